// The built program on a real X server with real key presses, heard through a real sound server.
#include "testkit.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QThread>
#include <functional>
#include <memory>

using testkit::Desktop;
using testkit::Recorder;
using testkit::SoundServer;

namespace {
// xdotool matches titles as regular expressions: anchored, so nothing may be added to a title.
const QString title = QStringLiteral("^Ti insegno i numeri fino a 9$");
const QRgb cyan = qRgb(0, 255, 255);
const QRgb pictureGround = qRgb(0xff, 0xf3, 0xc4); // the light ground of every picture

// The program, copied with its media into a folder whose name has spaces and other scripts, so
// that nothing may rely on a plain path.
class Program
{
public:
    // The built program in a folder of its own, or an installed EXECUTABLE with its media.
    explicit Program(const QProcessEnvironment &environment, const QString &executable = {})
    {
        if (executable.isEmpty()) {
            m_folder = m_dir.filePath(QStringLiteral("programma di prova é ж 数字"));
            testkit::copyMedia(m_folder);
            QFile::copy(QStringLiteral(NUMERI_BUILD_DIR "/numeri"), m_folder + u"/numeri");
            m_executable = m_folder + u"/numeri";
        } else {
            m_executable = executable;
            m_folder = QFileInfo(QFileInfo(executable).canonicalFilePath()).path();
        }
        m_process.setProcessEnvironment(environment);
        // Started from elsewhere: the media are found beside the program, not here.
        m_process.setWorkingDirectory(QDir::tempPath());
    }
    ~Program()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    QString media(const QString &name) const { return m_folder + u"/IMG/" + name; }
    void start() { m_process.start(m_executable, {}); }
    bool running() const { return m_process.state() == QProcess::Running; }
    // The exit status once it ends by itself, or -1.
    int waitForExit(int ms = 5000)
    {
        const int status = !m_process.waitForFinished(ms)    ? -1
            : m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode()
                                                             : -2;
        if (status != 0)
            qWarning(
                "numeri ended with %d:\n%s", status, m_process.readAllStandardError().constData());
        return status;
    }
    QByteArray errors() { return m_process.readAllStandardError(); }

private:
    QTemporaryDir m_dir;
    QString m_folder;
    QString m_executable;
    QProcess m_process;
};

QProcessEnvironment combined(const Desktop &desktop, const SoundServer *sound)
{
    QProcessEnvironment env = desktop.environment();
    if (sound) {
        const QProcessEnvironment s = sound->environment();
        for (const QString &k : s.keys())
            if (k.startsWith(u"PULSE_") || k == u"HOME")
                env.insert(k, s.value(k));
        env.remove(QStringLiteral("SDL_AUDIODRIVER"));
    } else {
        env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/numeri-test"));
    }
    return env;
}

// Whether the program has its sound stream open on the server, which it does soon after start.
bool waitForStream(const SoundServer &sound, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        const QByteArray out = testkit::run(QStringLiteral("pactl"),
            { QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs") },
            sound.environment());
        if (!out.trimmed().isEmpty())
            return true;
        QThread::msleep(50);
    }
    return false;
}
bool pictureShown(const Desktop &desktop, const QString &window)
{
    return testkit::countNear(desktop.screenshot(window), pictureGround, 12) > 20000;
}

// The program running on its own X server and sound server, its sound recorded from the start.
struct Session
{
    explicit Session(bool windowManager)
        : desktop(windowManager)
        , recorder(sound)
    { }
    // Starts it all; `prepare` may change the program's media before it starts. False where any
    // part would not come up.
    bool start(const std::function<void(Program &)> &prepare = {}, const QString &executable = {})
    {
        if (!desktop.ok() || !sound.start() || !recorder.start())
            return false;
        program = std::make_unique<Program>(combined(desktop, &sound), executable);
        if (prepare)
            prepare(*program);
        program->start();
        window = desktop.waitForWindow(title);
        if (window.isEmpty() || !waitForStream(sound))
            return false;
        recorder.take(200);
        return true;
    }
    void keys(const QStringList &xdotoolArguments) const { desktop.keys(xdotoolArguments); }
    bool pictureShown() const { return ::pictureShown(desktop, window); }

    Desktop desktop;
    SoundServer sound;
    Recorder recorder;
    std::unique_ptr<Program> program;
    QString window;
};
} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowShowsAndCloses();
    void digitsAreHeardAndSeen();
    void keysWorkWithoutWindowManager();
    void everyDigitIsHeard();
    void soundServerComesAndGoes();
    void installedProgramRuns();
};

void TestEndToEnd::windowShowsAndCloses()
{
    Desktop desktop(true);
    QVERIFY(desktop.ok());
    Program program(combined(desktop, nullptr));
    program.start();
    const QString window = desktop.waitForWindow(title);
    QVERIFY(!window.isEmpty());
    QTest::qWait(300);

    const QImage shot = desktop.screenshot(window);
    QVERIFY(!shot.isNull());
    shot.save(QStringLiteral(NUMERI_BUILD_DIR "/screenshot-start.png"));
    const int all = shot.width() * shot.height();
    QVERIFY2(testkit::countNear(shot, qRgb(0, 0, 0)) > all / 2, "the window is not black");
    QVERIFY2(testkit::countNear(shot, cyan) > 20000, "no cyan prompt");

    // Closed from the title bar, through the window manager: no message, status 0.
    testkit::run(QStringLiteral("wmctrl"), { QStringLiteral("-i"), QStringLiteral("-c"), window },
        desktop.environment());
    QCOMPARE(program.waitForExit(), 0);
    QVERIFY(!program.errors().contains("Errore"));
}

void TestEndToEnd::digitsAreHeardAndSeen()
{
    Session session(true);
    // Broken recordings: gone, empty, and a bare header.
    QVERIFY(session.start([](Program &program) {
        QFile::remove(program.media(QStringLiteral("2.wav")));
        QFile(program.media(QStringLiteral("9.wav"))).resize(0);
        QFile(program.media(QStringLiteral("8.wav"))).resize(40);
    }));
    const Desktop &desktop = session.desktop;
    Recorder &recorder = session.recorder;
    Program &program = *session.program;
    const QString window = session.window;

    // 7: heard whole, as long as its recording.
    desktop.keys({ QStringLiteral("key"), QStringLiteral("7") });
    testkit::Heard h = testkit::heard(recorder.take(1800));
    const double seven
        = testkit::heard(testkit::wavSamples(program.media(QStringLiteral("7.wav")))).length();
    qInfo("7: heard %.3f s, the recording itself %.3f s", h.length(), seven);
    QVERIFY(h.any);
    QVERIFY2(std::abs(h.length() - seven) < 0.04,
        qPrintable(QStringLiteral("heard %1 s of %2 s").arg(h.length()).arg(seven)));
    QImage shot = desktop.screenshot(window);
    shot.save(QStringLiteral(NUMERI_BUILD_DIR "/screenshot-digit.png"));
    QVERIFY2(testkit::countNear(shot, pictureGround, 12) > 20000, "no picture under the 7");

    // 3, then 4 80 ms later: the 3 is cut short, the 4 heard whole.
    desktop.keys({ QStringLiteral("key"), QStringLiteral("3"), QStringLiteral("sleep"),
        QStringLiteral("0.08"), QStringLiteral("key"), QStringLiteral("4") });
    h = testkit::heard(recorder.take(2000));
    const double three
        = testkit::heard(testkit::wavSamples(program.media(QStringLiteral("3.wav")))).length();
    const double four
        = testkit::heard(testkit::wavSamples(program.media(QStringLiteral("4.wav")))).length();
    qInfo("3 then 4: heard %.3f s; 3 is %.3f s, 4 is %.3f s", h.length(), three, four);
    QVERIFY(h.any);
    const QByteArray heard34 = QStringLiteral("heard %1 s; 3 is %2 s, 4 is %3 s")
                                   .arg(h.length())
                                   .arg(three)
                                   .arg(four)
                                   .toUtf8();
    QVERIFY2(std::abs(h.length() - (0.08 + four)) < 0.06, heard34.constData());
    QVERIFY2(h.length() < three + four - 0.1, heard34.constData());

    // 2 without a recording: silence, yet the picture shows.
    desktop.keys({ QStringLiteral("key"), QStringLiteral("2") });
    h = testkit::heard(recorder.take(1000));
    QVERIFY2(!h.any, "a sound played for a missing recording");
    QVERIFY(session.pictureShown());

    // Broken recordings leave the program responsive and the next digit audible.
    desktop.keys({ QStringLiteral("key"), QStringLiteral("9"), QStringLiteral("key"),
        QStringLiteral("8"), QStringLiteral("key"), QStringLiteral("KP_5") });
    h = testkit::heard(recorder.take(1500));
    const double five
        = testkit::heard(testkit::wavSamples(program.media(QStringLiteral("5.wav")))).length();
    QVERIFY2(h.any && std::abs(h.length() - five) < 0.04,
        qPrintable(QStringLiteral("heard %1 s of %2 s").arg(h.length()).arg(five)));

    // A letter: the warning box, closed with Enter; the keys come back to the lesson.
    desktop.keys({ QStringLiteral("key"), QStringLiteral("a") });
    QVERIFY(!desktop.waitForWindow(QStringLiteral("^Fai attenzione, non hai premuto un numero$"))
                 .isEmpty());
    shot = desktop.screenshot();
    shot.save(QStringLiteral(NUMERI_BUILD_DIR "/screenshot-letter.png"));
    desktop.keys({ QStringLiteral("key"), QStringLiteral("Return") });
    QTest::qWait(300);
    recorder.take(100);
    desktop.keys({ QStringLiteral("key"), QStringLiteral("1") });
    QVERIFY(testkit::heard(recorder.take(1200)).any);

    // Esc: the goodbye box; once it is closed the program ends with status 0.
    desktop.keys({ QStringLiteral("key"), QStringLiteral("Escape") });
    QVERIFY(!desktop.waitForWindow(QStringLiteral("^A presto da Zorvalde e Trucchelo$")).isEmpty());
    QVERIFY(program.running());
    desktop.keys({ QStringLiteral("key"), QStringLiteral("Return") });
    QCOMPARE(program.waitForExit(), 0);
}

void TestEndToEnd::keysWorkWithoutWindowManager()
{
    Session session(false);
    QVERIFY(session.start());
    const Desktop &desktop = session.desktop;
    Recorder &recorder = session.recorder;

    // Nobody clicked the window or gave it the keyboard: typing works at once.
    desktop.keys({ QStringLiteral("key"), QStringLiteral("6") });
    QVERIFY2(testkit::heard(recorder.take(1200)).any, "the first key was not heard");
    QVERIFY(session.pictureShown());

    // After a box, with no window manager to hand the keyboard back.
    desktop.keys({ QStringLiteral("key"), QStringLiteral("x") });
    QVERIFY(!desktop.waitForWindow(QStringLiteral("^Fai attenzione, non hai premuto un numero$"))
                 .isEmpty());
    QTest::qWait(200);
    desktop.keys({ QStringLiteral("key"), QStringLiteral("Return") });
    QTest::qWait(300);
    recorder.take(100);
    desktop.keys({ QStringLiteral("key"), QStringLiteral("0") });
    QVERIFY2(testkit::heard(recorder.take(1200)).any, "keys were lost after the box");
}

void TestEndToEnd::everyDigitIsHeard()
{
    Session session(true);
    QVERIFY(session.start());
    for (int d = 0; d <= 9; ++d) {
        const QString digit = QString::number(d);
        session.keys({ QStringLiteral("key"), digit });
        const testkit::Heard h = testkit::heard(session.recorder.take(1400));
        const double own
            = testkit::heard(testkit::wavSamples(session.program->media(digit + u".wav"))).length();
        qInfo("%d: heard %.3f s, the recording itself %.3f s", d, h.length(), own);
        QVERIFY2(h.any && std::abs(h.length() - own) < 0.04, qPrintable(digit));
    }
}

void TestEndToEnd::soundServerComesAndGoes()
{
    Desktop desktop(true);
    QVERIFY(desktop.ok());
    SoundServer sound; // not started yet: the program starts with no sound at all
    Program program(combined(desktop, &sound));
    program.start();
    const QString window = desktop.waitForWindow(title);
    QVERIFY(!window.isEmpty());

    // The server comes up; once the program's pause between tries has passed, a digit is heard.
    const auto serverUpAndHeard = [&](const QString &digit) {
        if (!sound.start())
            return false;
        Recorder recorder(sound);
        if (!recorder.start())
            return false;
        QTest::qWait(600);
        recorder.take(100);
        desktop.keys({ QStringLiteral("key"), digit });
        return testkit::heard(recorder.take(1500)).any;
    };

    // Silent, but the digits are still shown.
    desktop.keys({ QStringLiteral("key"), QStringLiteral("7") });
    QTest::qWait(300);
    QVERIFY(pictureShown(desktop, window));

    QVERIFY2(serverUpAndHeard(QStringLiteral("4")), "not heard once the server came");

    // The server dies: the program goes on.
    sound.stop();
    desktop.keys(
        { QStringLiteral("key"), QStringLiteral("5"), QStringLiteral("key"), QStringLiteral("6") });
    QTest::qWait(300);
    QVERIFY(program.running());
    QVERIFY(desktop.windowExists(window));

    // And it comes back: heard again.
    QVERIFY2(serverUpAndHeard(QStringLiteral("3")), "not heard after the server came back");
    QVERIFY(program.running());
}

void TestEndToEnd::installedProgramRuns()
{
    QTemporaryDir prefix;
    testkit::run(QStringLiteral(NUMERI_CMAKE),
        { QStringLiteral("--install"), QStringLiteral(NUMERI_BUILD_DIR), QStringLiteral("--prefix"),
            prefix.path() },
        QProcessEnvironment::systemEnvironment(), 60000);
    const QString link = prefix.filePath(QStringLiteral("bin/numeri"));
    QVERIFY(QFileInfo(link).isSymLink());

    // Started through the link on the PATH, from some other folder.
    Session session(true);
    QVERIFY(session.start({}, link));
    session.keys({ QStringLiteral("key"), QStringLiteral("8") });
    QVERIFY2(
        testkit::heard(session.recorder.take(1200)).any, "the installed program was not heard");
    QVERIFY(session.pictureShown());
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
