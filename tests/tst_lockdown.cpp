// The locked full screen: Esc held for less than its time and for it, in the window itself (the
// parent's choice of it: tst_family); then the installed program on X11 as a child meets it,
// under openbox, whose keys for leaving a program are bound to leave marks, with another
// program's window, and on a bare X server that changes its size.
#include "lesson/sound.h"
#include "lock/fullscreen.h"
#include "shell/form1.h"
#include "soundserver.h"
#include "testkit.h"
#include "xscreen.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenuBar>

using namespace testkit;

namespace {
class NoSound : public lesson::Sound
{
public:
    void suona(const QString &, const QString &) override { }
};
const QString goodbye = QStringLiteral("A presto da Zorvalde e Trucchelo");
const QString title = QStringLiteral("^Ti insegno i numeri fino a 9$");
const QStringList fullScreen = { QStringLiteral("--schermo-intero") };
} // namespace

class TestLockdown : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void escapeHold();
    void x11_data();
    void x11();
    void otherWindow_data();
    void otherWindow();
    void bareServerResized();

private:
    void keys(const QString &keys) const { run(words("xdotool") + keys.split(u' ')); }
    QStringList marks() const { return QDir(m_dir.path()).entryList({ QStringLiteral("mark-*") }); }

    QTemporaryDir m_dir;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    Ended m_openbox;
};

void TestLockdown::initTestCase()
{
    QByteArray bindings;
    for (const char *key : { "W-e", "A-Tab", "A-space" })
        bindings += QByteArray("<keybind key=\"") + key
            + "\"><action name=\"Execute\"><command>touch " + QFile::encodeName(m_dir.path())
            + "/mark-" + key + "</command></action></keybind>\n";
    QVERIFY(write(m_dir.filePath(QStringLiteral("rc.xml")),
        "<openbox_config xmlns=\"http://openbox.org/3.4/rc\"><keyboard>\n" + bindings
            + "<keybind key=\"A-F4\"><action name=\"Close\"/></keybind></keyboard>"
              "</openbox_config>\n"));
    m_env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    // A lock of its own for the locked screen, whatever else runs on the machine.
    const QString runtime = m_dir.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkdir(runtime)
        && QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
}

// openbox for each case but those on a bare X server: the lesson's own, and Xephyr's on its host,
// where a window manager would keep Xephyr's window, and so its screen, within the host's.
void TestLockdown::init()
{
    if (QByteArray(QTest::currentDataTag()) == "no window manager"
        || QByteArray(QTest::currentTestFunction()) == "bareServerResized") {
        m_openbox.terminate();
        m_openbox.waitForFinished();
    } else if (m_openbox.state() == QProcess::NotRunning) {
        QVERIFY(startOpenbox(m_openbox,
            { QStringLiteral("--config-file"), m_dir.filePath(QStringLiteral("rc.xml")) }));
    }
}

// Faults: a second shown before it has begun (the count rounded down), or late; a held key's
// repeats closing the goodbye box before the parent has read it. How long the hold is, and a
// repeat not taken for a release, are x11's, with X's own repeats.
void TestLockdown::escapeHold()
{
    const int heldMs = 3300;
    NoSound sound;
    auto *form = new Form1(sound, QStringLiteral(NUMERI_BUILD_DIR));
    lock::FullScreen screen(form);
    form->holdEscapeToLeave();
    screen.showFullScreen();
    // A window manager just started may take its time to manage and focus the first window.
    QVERIFY(QTest::qWaitForWindowActive(&screen, 20000));
    QTRY_COMPARE(screen.size(), screen.screen()->size());

    const auto key = [](QEvent::Type type, bool repeat) {
        QKeyEvent event(type, Qt::Key_Escape, {}, QStringLiteral("\x1b"), repeat);
        if (QWidget *target = QApplication::focusWidget())
            QApplication::sendEvent(target, &event);
    };
    QEventLoop program; // stands for the program's loop, which the end leaves
    QStringList captions;
    QList<qint64> shownAt; // each caption's first sight on the hold's clock, which starts first
    QString boxWhenLetGo;
    std::unique_ptr<BoxCloser> closer;
    QElapsedTimer held;
    QTimer hand; // a key held as X sends it: a release and a press every 40 ms
    connect(&hand, &QTimer::timeout, this, [&] {
        const QString caption = form->menuBar()->actions().value(0)->text();
        if (captions.value(captions.size() - 1) != caption) {
            captions << caption;
            shownAt << held.elapsed();
        }
        if (held.elapsed() < heldMs) {
            // Qt flags a repeat only where its press had come in with its release: at first not.
            key(QEvent::KeyRelease, captions.size() > 1);
            key(QEvent::KeyPress, captions.size() > 1);
            return;
        }
        hand.stop();
        if (QMessageBox *box = openBox())
            boxWhenLetGo = box->windowTitle();
        closer = std::make_unique<BoxCloser>();
        key(QEvent::KeyRelease, false);
    });
    // Whatever the window does, the case ends: a box left open is closed.
    QTimer::singleShot(heldMs + 1500, &program, [&] {
        if (!closer)
            closer = std::make_unique<BoxCloser>();
    });
    QTimer::singleShot(heldMs + 2000, &program, [&] { program.exit(99); });
    QTimer::singleShot(0, &program, [&] {
        held.start();
        key(QEvent::KeyPress, false);
        hand.start(40);
    });
    QCOMPARE(program.exec(), 0);
    QVERIFY2(closer, "the program ended while Esc was still held");
    QCOMPARE(closer->boxes().size(), 1);
    QCOMPARE(boxWhenLetGo, goodbye);
    const QString caption = QStringLiteral("Per uscire tieni premuto il tasto esc");
    QCOMPARE(captions.mid(0, 4),
        QStringList({ caption + u": ancora 3 secondi", caption + u": ancora 2 secondi",
            caption + u": ancora 1 secondo", caption }));
    // Each later caption a whole second after the last: never sooner, and late by at most a
    // few of the hand's looks, however busy the machine.
    for (qsizetype i = 1; i < std::min<qsizetype>(shownAt.size(), 4); ++i)
        QVERIFY2(shownAt[i] >= i * 1000 && shownAt[i] < i * 1000 + 400,
            qPrintable(captions[i] + u" at " + QString::number(shownAt[i]) + u" ms"));
}

void TestLockdown::x11_data()
{
    QTest::addColumn<bool>("locked");
    QTest::newRow("locked") << true;
    QTest::newRow("plain, which proves the bindings") << false;
}

// Faults: the grab's result ignored, or a refused grab not asked for again; the grab let go while
// a box is open, or not taken back after it; a box a window of its own, or losing its keys under
// the grab; Esc's hold shortened, so that a child's longer press leaves, or a repeat taken for a
// release, or the hold not begun in the box a tap opened; a second locked start shown on top of
// the first, whose grab keeps the child's keys, or failing where it should end with status 0.
void TestLockdown::x11()
{
    QFETCH(bool, locked);
    for (const QString &mark : marks())
        QVERIFY(QFile::remove(m_dir.filePath(mark)));
    // Locked by the parent's choice, kept in the settings.
    QVERIFY(write(m_env.value(QStringLiteral("XDG_CONFIG_HOME")) + u"/numeri/numeri.ini",
        locked ? "[lezione]\nschermoIntero=true\n" : "[lezione]\nschermoIntero=false\n"));
    // Another program, which holds the keyboard as the lesson starts, then the pointer, and lets
    // go of one and then the other: the lesson has neither until it can have both.
    XScreen other;
    if (locked)
        QVERIFY(other.grabKeyboard());
    Numeri program(m_env);
    QVERIFY(windowShows(title));
    if (locked) {
        QVERIFY(program.says("un altro programma tiene"));
        QVERIFY(other.grabPointer());
        other.letGoOfKeyboard();
        QTest::qWait(600);
        QVERIFY(!program.said().contains("bloccati"));
        other.letGoOfPointer();
        QVERIFY(program.says("tastiera e mouse bloccati"));
    }
    // The window manager's keys go to the window it has given the focus.
    QTRY_COMPARE(run(words("xdotool getwindowfocus getwindowname")).trimmed(),
        QByteArray("Ti insegno i numeri fino a 9"));
    const QList<xcb_window_t> before = other.shownTopLevels();
    if (locked) {
        Numeri second(m_env, fullScreen);
        QVERIFY(second.endsWell(false));
        QVERIFY(second.says("già aperto a schermo intero"));
    }
    // Super+e types an e, whose box is open for the keys after it: drawn in the lesson's window,
    // not one of its own that the window manager would place, focus and let its shortcuts past.
    for (const char *combo : { "super+e", "alt+Tab", "alt+space", "alt+F4" }) {
        keys(u"key " + QLatin1String(combo));
        if (locked && combo[0] == 's') {
            QTRY_VERIFY(other.boxInMiddle());
            QCOMPARE(other.shownTopLevels(), before);
            QVERIFY(other.lockedOut());
        }
        QTest::qWait(200);
    }
    if (!locked) {
        QTRY_COMPARE(marks().size(), 3);
        QTRY_COMPARE(program.state(), QProcess::NotRunning); // closed by Alt+F4
        return;
    }
    QTest::qWait(500);
    QCOMPARE(marks(), QStringList());
    QCOMPARE(program.state(), QProcess::Running);
    // Alt+space was a space for the box's button: the box has gone, and the keys are the lesson's.
    QVERIFY(other.lockedOut());
    // Held for less than its 3 s, Esc is a key, whose warning Enter closes; tapped, it opens one
    // again, and held in that warning, it leaves. Let go in time for its release to be told from a
    // repeat's before the three seconds are up.
    keys(QStringLiteral("keydown Escape sleep 2.6 keyup Escape"));
    QTRY_VERIFY(other.boxInMiddle());
    keys(QStringLiteral("key Return sleep 0.5 key Escape"));
    QTRY_VERIFY(other.boxInMiddle());
    QCOMPARE(program.state(), QProcess::Running);
    keys(QStringLiteral("keydown Escape sleep 3.5"));
    QVERIFY(other.boxInMiddle());
    QCOMPARE(other.shownTopLevels(), before);
    keys(QStringLiteral("keyup Escape sleep 0.2 key Return"));
    QVERIFY(program.endsWell(false));
}

void TestLockdown::otherWindow_data()
{
    QTest::addColumn<bool>("openbox");
    QTest::newRow("openbox") << true;
    QTest::newRow("no window manager") << false;
}

// Faults: a notice that another program opens while the lesson is locked covers the digit, and the
// child, whose clicks are grabbed, cannot close it.
void TestLockdown::otherWindow()
{
    QFETCH(bool, openbox);
    QCOMPARE(m_openbox.state() == QProcess::Running, openbox); // as init() left it
    Numeri program(m_env, fullScreen);
    QVERIFY(program.says("bloccati"));
    const xcb_window_t lesson = windowShows(title);
    Ended notice;
    notice.start(QStringLiteral("xmessage"), words("-center -title avviso un avviso"));
    const xcb_window_t shown = windowShows(QStringLiteral("^avviso$"));
    QVERIFY(lesson && shown);
    const XScreen screen;
    const auto lessonOnTop = [&] {
        const QList<xcb_window_t> stack = screen.shownTopLevels();
        return stack.indexOf(screen.topLevelOf(lesson)) > stack.indexOf(screen.topLevelOf(shown));
    };
    QTRY_VERIFY(lessonOnTop());
    QTest::qWait(500);
    QVERIFY(lessonOnTop());
}

// Fault: only the first change of a bare X server's size followed, the lesson left at the old
// size in a corner, with the pointer kept there.
void TestLockdown::bareServerResized()
{
    // Xephyr is a bare X server whose size xrandr changes, as a screen's changes.
    Ended xephyr;
    const QByteArray display
        = startX(xephyr, words("Xephyr -screen 1024x768 -resizeable -nolisten tcp -noreset"));
    QVERIFY(!display.isEmpty());
    QProcessEnvironment env = m_env;
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    Numeri program(env, fullScreen);
    const xcb_window_t lesson = windowShows(title, env);
    QVERIFY(lesson);
    const XScreen screen(display.constData());
    QTRY_COMPARE(screen.geometryOf(lesson), QRect(0, 0, 1024, 768));
    for (const QSize size : { QSize(800, 600), QSize(1600, 1200) }) {
        run(words("xrandr -s") << QStringLiteral("%1x%2").arg(size.width()).arg(size.height()),
            env);
        QTRY_COMPARE(screen.size(), size);
        QTRY_COMPARE(screen.geometryOf(lesson), QRect(QPoint(), size));
    }
    QVERIFY(program.endsWell());
}

QTEST_MAIN(TestLockdown)
#include "tst_lockdown.moc"
