// A file made to take over a decoding library reaches nothing but itself: the real numeri-decode,
// with a libsndfile of the tests' own found first, which tries to reach out once asked to open
// the file. Each reach is tried as on a kernel without Landlock, where the system-call filter
// stands alone.
#include "family/voice.h"
#include "testkit.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// In the decoder's process before it starts: the kernel answers Landlock's first call as one
// that has none does. This is no wall, so other architectures' calls are not looked at.
void withoutLandlock()
{
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_landlock_create_ruleset, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog filter { sizeof program / sizeof *program, program };
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
        || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)
        _exit(127);
}
} // namespace

class TestDecoderWall : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void hostileLibrary_data();
    void hostileLibrary();

private:
    QTemporaryDir m_dir;
};

void TestDecoderWall::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A tenth of a second of silence, which FFmpeg reads once libsndfile turns it down.
    QVERIFY(testkit::write(m_dir.filePath(QStringLiteral("message.wav")),
        family::wavFile(std::vector<qint16>(2205, 0))));
    QVERIFY(testkit::write(m_dir.filePath(QStringLiteral("secret.txt")), "the family's secrets"));
    std::signal(SIGUSR2, SIG_IGN); // a signal that got through is said so; the test goes on
}

void TestDecoderWall::hostileLibrary_data()
{
    QTest::addColumn<QByteArray>("reach"); // what the library tries, and on what
    QTest::addColumn<bool>("landlock");
    // No one listens: a refused call is never made, and one let through ends in success or in
    // an error of its own (no such socket, connection refused), so the errno alone tells. The
    // filter refuses every socket alike, whatever its kind or address.
    const QByteArray dir = QFile::encodeName(m_dir.path()), pid = QByteArray::number(getpid());
    for (const QByteArray &reach :
        QByteArrayList { "read " + dir + "/secret.txt", "create " + dir + "/made.txt", "tcp 9",
            "unix " + dir + "/session.socket", "kill " + pid, "fork", "exec /bin/true" })
        QTest::addRow("%s, no Landlock", reach.split(' ').constFirst().constData())
            << reach << false;
    // With Landlock a reach gets through only where the filter lets it too, so the filter's own
    // rows are the ones that catch a fault; reading alone is Landlock's in the sanitizer build.
    QTest::newRow("read") << "read " + dir + "/secret.txt" << true;
}

void TestDecoderWall::hostileLibrary()
{
    QFETCH(QByteArray, reach);
    QFETCH(bool, landlock);
#ifdef __SANITIZE_ADDRESS__
    if (reach.startsWith("read ") && !landlock)
        QSKIP(
            "in the sanitizer build the filter lets files be opened to read, for the leak check's "
            "look at /proc as it ends, and Landlock alone refuses the rest");
#endif
    const QString made = m_dir.filePath(QStringLiteral("made.txt"));
    QFile::remove(made); // a row before that got through
    QProcess decoder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(NUMERI_HOSTILE_DIR));
    env.insert(QStringLiteral("NUMERI_HOSTILE"), QString::fromLocal8Bit(reach));
    decoder.setProcessEnvironment(env);
    if (!landlock)
        decoder.setChildProcessModifier(withoutLandlock);
    decoder.start(
        QStringLiteral(NUMERI_DECODER), { m_dir.filePath(QStringLiteral("message.wav")) });
    QVERIFY(decoder.waitForFinished(30000));
    const QString said = QString::fromLocal8Bit(decoder.readAllStandardError());

    // Refused with an error, and the decoder's own answer followed: the silence, read by FFmpeg.
    const QRegularExpression refused(
        u"^hostile: " + QString::fromLatin1(reach.split(' ').constFirst()) + u" refused: (\\d+)$",
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = refused.match(said);
    QVERIFY2(match.hasMatch(), qPrintable(said));
    QVERIFY2(match.captured(1).toInt() == EPERM || match.captured(1).toInt() == EACCES,
        qPrintable(said));
    QCOMPARE(decoder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(decoder.exitCode(), 0);
    QCOMPARE(decoder.readAllStandardOutput().size(), 2205 * 2);
    QVERIFY(!QFile::exists(made));
}

QTEST_GUILESS_MAIN(TestDecoderWall)
#include "tst_decoderwall.moc"
