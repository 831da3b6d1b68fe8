// A voice message from far away as a digit's word, in-process: every kind of file a phone sends,
// made here from the installed "sette" with Debian's tools, handed to the parent's window as the
// dialog does, kept; checked as the child hears 7.wav. (Dropped, or cut from a longer message:
// tst_fromphones.) A file made to take over a decoding library reaches nothing but itself: the real
// numeri-decode, with a libsndfile of the tests' own found first, which tries to reach out once
// asked to open the file. Each reach is tried as on a kernel without Landlock, where the
// system-call filter stands alone.
#include "diskaudio.h"
#include "family/decoding.h"
#include "family/voice.h"
#include "familyfixture.h"
#include "testkit.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace testkit;
using namespace Qt::StringLiterals;

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

class TestVoiceMessage : public FamilyFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup() { closeWindow(); }
    void formats_data();
    void formats();
    void broken_data();
    void broken();
    void hostileLibrary_data();
    void hostileLibrary();

private:
    // Hands FILE to the window for 7, as the dialog does, and waits for what it says.
    void use(const QString &file);
};

void TestVoiceMessage::initTestCase()
{
    const QString sette = builtMedia() + u"/7.wav";
    // The word on the right channel alone, the left one silent: a mix that drops a channel loses
    // it.
    make(QStringLiteral("sox"), QStringLiteral("IN OUT rate 48000 remix 0 1"), sette,
        here(QStringLiteral("right.wav")));
    // Said three times, for a download cut off midway.
    make(QStringLiteral("sox"), QStringLiteral("IN IN IN OUT"), sette,
        here(QStringLiteral("three.wav")));
    // A tenth of a second of silence, which FFmpeg reads once libsndfile turns it down.
    QVERIFY(
        write(here(QStringLiteral("message.wav")), family::wavFile(std::vector<qint16>(2205, 0))));
    QVERIFY(write(here(QStringLiteral("secret.txt")), "the family's secrets"));
    std::signal(SIGUSR2, SIG_IGN); // a signal that got through is said so; the test goes on
}

void TestVoiceMessage::init()
{
    QVERIFY(write(familyFile(QStringLiteral("7.wav")), "earlier"));
    openWindow();
}

void TestVoiceMessage::use(const QString &file)
{
    m_window->import().useSound(7, file);
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->import().decoding().busy(), 20000);
}

// What phones and messengers send, one kind for each library that decodes it, made from one file
// (the word on the right channel, at 48 kHz). Faults: a channel dropped in the mix; resampling
// skipped (the word comes out long and low); a format read as silence, or only in part; a library
// that cannot read within the decoder's walls; "hold the key again" said of a message. A
// download cut off midway: what is there is shown to be cut, and the parent is told how much was
// read of how much the file says it holds. Faults: the check of the length dropped, so that a
// fragment is taken silently; the file refused.
void TestVoiceMessage::formats_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("options"); // around IN, the source, and OUT, the file made
    QTest::addColumn<QString>("cut"); // cut off at 60%: whether the file "says" its length
    const auto row
        = [](const char *name, const char *program, const char *options, const char *cut = "") {
              QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(program)
                                  << QString::fromLatin1(options) << QString::fromLatin1(cut);
          };
    // libsndfile gives every kind of WAV sample alike; this one comes below the play rate.
    row("8bit.wav", "sox", "IN -r 11025 -b 8 -e unsigned OUT");
    row("voice.ogg", "ffmpeg", "-v error -y -i IN -c:a libvorbis OUT");
    row("recorder.mp3", "ffmpeg", "-v error -y -i IN -c:a libmp3lame OUT");
    row("memo.m4a", "ffmpeg", "-v error -y -i IN -c:a aac OUT");
    // AMR has no encoder in Debian's FFmpeg; GStreamer's, through opencore, writes its frames,
    // and an AMR file is those after a magic line.
    row("phone.amr", "gst-launch-1.0",
        "-q filesrc location = IN ! wavparse ! audioconvert ! audioresample ! "
        "audio/x-raw,rate=8000,channels=1 ! amrnbenc ! filesink location = OUT");
    // 90 s, the word at its end; longer than is read, its first two minutes and the parent told.
    row("whatsapp.opus", "ffmpeg", "-v error -y -i IN -af adelay=89s:all=1 -c:a libopus OUT");
    row("long.flac", "sox", "IN OUT pad 0 130");
    row("cut.m4a", "ffmpeg", "-v error -y -i IN -c:a aac -movflags +faststart OUT", "says");
    row("cut.opus", "ffmpeg", "-v error -y -i IN -c:a libopus OUT", "an Ogg file does not");
    row("cut.wav", "ffmpeg", "-v error -y -i IN OUT", "says");
}

void TestVoiceMessage::formats()
{
    QFETCH(QString, name);
    QFETCH(QString, program);
    QFETCH(QString, options);
    QFETCH(QString, cut);
    const QString made = here(name), source = here(cut.isEmpty() ? u"right.wav"_s : u"three.wav"_s);
    make(program, options, source, made);
    if (name.endsWith(u".amr"))
        QVERIFY(write(made, "#!AMR\n" + contentOf(made)));
    if (!cut.isEmpty())
        QVERIFY(write(made, contentOf(made).left(contentOf(made).size() * 6 / 10)));
    use(made);
    QCOMPARE(status().contains(u"ho preso solo i primi 2 minuti"), name.startsWith(u"long"));
    if (!cut.isEmpty()) {
        const QRegularExpressionMatch said
            = QRegularExpression(QStringLiteral("^Attenzione, il file sembra interrotto: ho letto "
                                                "(\\d+,\\d) s( su (\\d+,\\d))?\\. Ascolta"))
                  .match(status());
        QVERIFY2(said.hasMatch() && said.hasCaptured(3) == (cut == u"says"), qPrintable(status()));
        QVERIFY(panel()->isVisible());
        const auto seconds
            = [&said](int n) { return said.captured(n).replace(u',', u'.').toDouble(); };
        const double all = double(pcm(source).size()) / lesson::playRate;
        QVERIFY2(seconds(1) > all * 0.3 && seconds(1) < all * 0.7, qPrintable(status()));
        QVERIFY2(cut != u"says" || std::abs(seconds(3) - all) < 0.1, qPrintable(status()));
        return;
    }
    QTest::mouseClick(button("keepPart"), Qt::LeftButton);
    QTRY_VERIFY2(
        status().startsWith(u"Fatto") && !status().contains(u"premuto"), qPrintable(status()));
    const std::vector<qint16> saved = pcm(familyFile(QStringLiteral("7.wav")));
    const std::vector<qint16> installed = pcm(builtMedia() + u"/7.wav");
    const family::Span word = family::voicedSpan(saved), spoken = family::voicedSpan(installed);
    const double seconds = double(word.end - word.begin) / lesson::playRate;
    const double expected = double(spoken.end - spoken.begin) / lesson::playRate;
    QVERIFY2(std::abs(seconds - expected) < 0.12, qPrintable(QString::number(seconds)));
    // As loud as the installed word, which is at the program's level, within 2 dB: a codec's
    // noise (8-bit, AMR's narrow band) moves what counts as voiced.
    const double level = voicedLoudness(installed);
    QVERIFY2(std::abs(voicedLoudness(saved) - level) < level * 0.25,
        qPrintable(QString::number(voicedLoudness(saved))));
}

// What goes wrong is said, and the family's word stays as it was. Faults: a decoder's failure
// taken as silence; a crashed or hung decoder taking the window with it; a missing decoder not
// named; a full disk reported done. (A FIFO or a device: tst_fromphones, each way in.)
void TestVoiceMessage::broken_data()
{
    QTest::addColumn<QString>("name");
    // The file's bytes, or "sette" made a message by FFmpeg: "half" its first half alone, "full"
    // to be kept on a full disk.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("decoder"); // a stand-in decoder's shell script, where one is used
    QTest::addColumn<QString>("said");
    const QString nothing;
    QTest::newRow("not audio") << "letter.mp3" << QByteArray("Cara nonna, ") << nothing
                               << "non è un file audio che conosco";
    QTest::newRow("truncated") << "memo.m4a" << QByteArray("half") << nothing
                               << "il file è rovinato";
    QTest::newRow("silence") << "silence.wav"
                             << family::wavFile(std::vector<qint16>(2 * lesson::playRate, 0))
                             << nothing << "non sento nessuna parola";
    QTest::newRow("empty") << "empty.opus" << QByteArray() << nothing << "il file è vuoto";
    QTest::newRow("no decoder")
        << "memo.m4a" << QByteArray("sette")
        << "NUMERI_LIBAVFORMAT=libavformat-not-installed.so exec '" NUMERI_DECODER "' \"$@\""
        << "serve il pacchetto libavformat";
    QTest::newRow("decoder crashes") << "voice.opus" << QByteArray("sette") << "kill -SEGV $$"
                                     << "si è fermato sul file";
    QTest::newRow("decoder hangs") << "voice.opus" << QByteArray("sette") << "exec sleep 60"
                                   << "richiede troppo tempo";
    QTest::newRow("decoder floods") << "voice.opus" << QByteArray("sette") << "exec cat /dev/zero"
                                    << "non ha funzionato come doveva";
    QTest::newRow("disk full") << "voice.opus" << QByteArray("full") << nothing
                               << "Non riesco a salvare la registrazione";
}

void TestVoiceMessage::broken()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, decoder);
    QFETCH(QString, said);
    const QString file = here(name), sette = builtMedia() + u"/7.wav";
    if (bytes == "sette" || bytes == "half" || bytes == "full")
        make(QStringLiteral("ffmpeg"), QStringLiteral("-v error -y -i IN OUT"), sette, file);
    else
        QVERIFY(write(file, bytes));
    if (bytes == "half")
        QVERIFY(write(file, contentOf(file).left(contentOf(file).size() / 2)));
    if (!decoder.isEmpty()) {
        standIn(decoder.toUtf8());
        m_window->import().decoding().setTimeLimit(std::chrono::seconds(2));
    }
    use(file);
    if (bytes == "full") {
        withRoom(1000, [this] {
            QTest::mouseClick(button("keepPart"), Qt::LeftButton);
            QTRY_VERIFY(!status().endsWith(u'…'));
        });
    }
    QVERIFY2(status().contains(said) && status().endsWith(u"Non è cambiato niente."),
        qPrintable(status()));
    QCOMPARE(contentOf(familyFile(QStringLiteral("7.wav"))), QByteArray("earlier"));
    // The window still answers: a good file after a bad one is read.
    qputenv("NUMERI_DECODER", NUMERI_DECODER);
    use(sette);
    QVERIFY2(panel()->isVisible() && status().startsWith(u"Ascolta"), qPrintable(status()));
}

void TestVoiceMessage::hostileLibrary_data()
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

void TestVoiceMessage::hostileLibrary()
{
    QFETCH(QByteArray, reach);
    QFETCH(bool, landlock);
#ifdef __SANITIZE_ADDRESS__
    if (reach.startsWith("read ") && !landlock)
        QSKIP(
            "in the sanitizer build the filter lets files be opened to read, for the leak check's "
            "look at /proc as it ends, and Landlock alone refuses the rest");
#endif
    QProcess decoder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(NUMERI_HOSTILE_DIR));
    env.insert(QStringLiteral("NUMERI_HOSTILE"), QString::fromLocal8Bit(reach));
    decoder.setProcessEnvironment(env);
    if (!landlock)
        decoder.setChildProcessModifier(withoutLandlock);
    decoder.start(QStringLiteral(NUMERI_DECODER), { here(QStringLiteral("message.wav")) });
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
    QCOMPARE(decoder.exitCode(), 0);
    QCOMPARE(decoder.readAllStandardOutput().size(), 2205 * 2);
}

QTEST_MAIN(TestVoiceMessage)
#include "tst_voicemessage.moc"
