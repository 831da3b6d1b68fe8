// A file made to take over a decoding library reaches nothing but itself: the real numeri-decode,
// with a libsndfile of the tests' own found first, which tries to reach out once asked to open
// the file. Each reach is tried on this kernel, and again as on a kernel without Landlock, where
// the system-call filter stands alone; every listener of the test's must get nothing.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t signalled = 0;

// A socket of the test's, bound and listening where it can, its address in words for the
// hostile library; closed with it.
struct Listener
{
    int fd = -1;
    QByteArray address;
    ~Listener()
    {
        if (fd >= 0)
            close(fd);
    }

    void inet(int type)
    {
        fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in at {};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        bind(fd, reinterpret_cast<sockaddr *>(&at), length);
        getsockname(fd, reinterpret_cast<sockaddr *>(&at), &length);
        address = QByteArray::number(ntohs(at.sin_port));
        if (type == SOCK_STREAM)
            listen(fd, 4);
    }

    void unix(const QByteArray &name, bool abstract)
    {
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un at {};
        at.sun_family = AF_UNIX;
        const int from = abstract ? 1 : 0;
        memcpy(at.sun_path + from, name.constData(), size_t(name.size()));
        if (!abstract)
            unlink(at.sun_path); // the last row's, bound there still
        bind(fd, reinterpret_cast<sockaddr *>(&at),
            socklen_t(offsetof(sockaddr_un, sun_path) + size_t(from + name.size())));
        listen(fd, 4);
        address = name;
    }

    // Whether anything came: a connection waiting, or a datagram.
    bool reached() const
    {
        char byte;
        const int connection = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0)
            close(connection);
        return connection >= 0 || recv(fd, &byte, 1, MSG_DONTWAIT) >= 0;
    }
};

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

// A tenth of a second of silence in a WAV file, which FFmpeg reads once libsndfile turns it down.
QByteArray silence()
{
    QByteArray wav(44 + 4410, '\0');
    const auto put32 = [&wav](int at, quint32 v) { qToLittleEndian(v, wav.data() + at); };
    const auto put16 = [&wav](int at, quint16 v) { qToLittleEndian(v, wav.data() + at); };
    memcpy(wav.data(), "RIFF", 4);
    put32(4, quint32(wav.size() - 8));
    memcpy(wav.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 1);
    put32(24, 22050);
    put32(28, 44100);
    put16(32, 2);
    put16(34, 16);
    memcpy(wav.data() + 36, "data", 4);
    put32(40, 4410);
    return wav;
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
    QFile wav(m_dir.filePath(QStringLiteral("message.wav")));
    QVERIFY(wav.open(QIODevice::WriteOnly) && wav.write(silence()) > 0);
    QFile secret(m_dir.filePath(QStringLiteral("secret.txt")));
    QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("the family's secrets") > 0);
    std::signal(SIGUSR2, [](int) { signalled = 1; });
}

void TestDecoderWall::hostileLibrary_data()
{
    QTest::addColumn<QByteArray>("reach");
    QTest::addColumn<bool>("landlock");
    for (const bool landlock : { true, false }) {
        const char *kernel = landlock ? "" : ", no Landlock";
        for (const char *reach :
            { "read", "create", "tcp", "udp", "unix", "abstract", "kill", "fork", "exec" })
            QTest::addRow("%s%s", reach, kernel) << QByteArray(reach) << landlock;
    }
}

void TestDecoderWall::hostileLibrary()
{
    QFETCH(QByteArray, reach);
    QFETCH(bool, landlock);
#ifdef __SANITIZE_ADDRESS__
    if (reach == "read" && !landlock)
        QSKIP(
            "in the sanitizer build the filter lets files be opened to read, for the leak check's "
            "look at /proc as it ends, and Landlock alone refuses the rest");
#endif
    Listener listener;
    QByteArray argument;
    const QString made = m_dir.filePath(QStringLiteral("made.txt"));
    if (reach == "read")
        argument = QFile::encodeName(m_dir.filePath(QStringLiteral("secret.txt")));
    else if (reach == "create")
        argument = QFile::encodeName(made);
    else if (reach == "tcp" || reach == "udp")
        listener.inet(reach == "tcp" ? SOCK_STREAM : SOCK_DGRAM);
    else if (reach == "unix")
        listener.unix(QFile::encodeName(m_dir.filePath(QStringLiteral("session.socket"))), false);
    else if (reach == "abstract")
        listener.unix("numeri-wall-" + QByteArray::number(getpid()), true);
    else if (reach == "kill")
        argument = QByteArray::number(getpid());
    else if (reach == "exec")
        argument = "/bin/true";
    if (listener.fd >= 0)
        argument = listener.address;
    QVERIFY(listener.address.isEmpty() || !listener.reached());
    signalled = 0;

    QProcess decoder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(NUMERI_HOSTILE_DIR));
    env.insert(QStringLiteral("NUMERI_HOSTILE"), QString::fromLocal8Bit(reach + ' ' + argument));
    decoder.setProcessEnvironment(env);
    if (!landlock)
        decoder.setChildProcessModifier(withoutLandlock);
    decoder.start(
        QStringLiteral(NUMERI_DECODER), { m_dir.filePath(QStringLiteral("message.wav")) });
    QVERIFY(decoder.waitForFinished(30000));
    const QString said = QString::fromLocal8Bit(decoder.readAllStandardError());

    // Refused with an error, and the decoder's own answer followed: the silence, read by FFmpeg.
    const QRegularExpression refused(
        u"^hostile: " + QString::fromLatin1(reach) + u" refused: (\\d+)$",
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = refused.match(said);
    QVERIFY2(match.hasMatch(), qPrintable(said));
    QVERIFY2(match.captured(1).toInt() == EPERM || match.captured(1).toInt() == EACCES,
        qPrintable(said));
    QCOMPARE(decoder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(decoder.exitCode(), 0);
    QCOMPARE(decoder.readAllStandardOutput().size(), 2205 * 2);
    if (!listener.address.isEmpty())
        QVERIFY(!listener.reached());
    QVERIFY(!QFile::exists(made));
    QCOMPARE(signalled, 0);
}

QTEST_GUILESS_MAIN(TestDecoderWall)
#include "tst_decoderwall.moc"
