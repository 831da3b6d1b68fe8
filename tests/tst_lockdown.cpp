// The locked full screen: Esc held against Esc tapped, in the window itself; then the installed
// program as a child meets it, on X11 under openbox and on Wayland under sway, whose keys for
// leaving a program are bound to leave marks.
#include "family/familywindow.h"
#include "lesson/sound.h"
#include "lock/fullscreen.h"
#include "lock/settings.h"
#include "otherprogram.h"
#include "shell/form1.h"
#include "soundserver.h"
#include "testkit.h"
#include "xscreen.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScopeGuard>
#include <unistd.h>

using namespace testkit;

namespace {
class NoSound : public lesson::Sound
{
public:
    void suona(const QString &, const QString &) override { }
};
const QString goodbye = QStringLiteral("A presto da Zorvalde e Trucchelo");
const QString warning = QStringLiteral("Fai attenzione, non hai premuto un numero");
} // namespace

class TestLockdown : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void escapeHold_data();
    void escapeHold();
    void parentsChoice_data();
    void parentsChoice();
    void x11_data();
    void x11();
    void wayland();

private:
    void keys(const QString &keys) const { run(words("xdotool") + keys.split(u' ')); }
    QStringList marks() const { return QDir(m_dir.path()).entryList({ QStringLiteral("mark-*") }); }

    QTemporaryDir m_dir;
    Ended m_openbox;
};

void TestLockdown::initTestCase()
{
    QFile rc(m_dir.filePath(QStringLiteral("rc.xml")));
    QVERIFY(rc.open(QIODevice::WriteOnly));
    QByteArray bindings;
    for (const char *key : { "W-e", "A-Tab", "A-space" })
        bindings += QByteArray("<keybind key=\"") + key
            + "\"><action name=\"Execute\"><command>touch " + QFile::encodeName(m_dir.path())
            + "/mark-" + key + "</command></action></keybind>\n";
    rc.write("<openbox_config xmlns=\"http://openbox.org/3.4/rc\"><keyboard>\n" + bindings
        + "<keybind key=\"A-F4\"><action name=\"Close\"/></keybind></keyboard></openbox_config>\n");
    rc.close();
    QVERIFY(startOpenbox(m_openbox, { QStringLiteral("--config-file"), rc.fileName() }));
}

void TestLockdown::escapeHold_data()
{
    QTest::addColumn<int>("heldMs");
    QTest::addColumn<bool>("leaves");
    QTest::newRow("tapped") << 50 << false;
    // Let go in time for its release to be told from a repeat's before the three seconds are up.
    QTest::newRow("held 2.6 s") << 2600 << false;
    QTest::newRow("held 3 s") << 3300 << true;
}

// Faults: the hold shortened, so that a child's longer press leaves; a repeat taken for a release;
// a held key's repeats closing the goodbye box before the parent has read it; the form not in the
// middle of the screen; a second shown before it has begun (the count rounded down).
void TestLockdown::escapeHold()
{
    QFETCH(int, heldMs);
    QFETCH(bool, leaves);
    NoSound sound;
    auto *form = new Form1(sound, QStringLiteral(NUMERI_BUILD_DIR));
    lock::FullScreen screen(form);
    form->holdEscapeToLeave();
    screen.showFullScreen();
    // A window manager just started may take its time to manage and focus the first window.
    QVERIFY(QTest::qWaitForWindowActive(&screen, 20000));
    QTRY_COMPARE(screen.size(), screen.screen()->size());
    QVERIFY((form->geometry().center() - screen.rect().center()).manhattanLength() <= 1);

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
    QCOMPARE(program.exec(), leaves ? 0 : 99);
    QVERIFY2(closer, "the program ended while Esc was still held");
    QCOMPARE(closer->boxes().size(), 1);
    QCOMPARE(closer->boxes()[0].title, leaves ? goodbye : warning);
    QCOMPARE(boxWhenLetGo, leaves ? goodbye : QString());
    const QString caption = QStringLiteral("Per uscire tieni premuto il tasto esc");
    QCOMPARE(captions.value(0), QString(caption + u": ancora 3 secondi"));
    if (leaves)
        QCOMPARE(captions.mid(1, 3),
            QStringList(
                { caption + u": ancora 2 secondi", caption + u": ancora 1 secondo", caption }));
    QCOMPARE(form->menuBar()->actions().value(0)->text(), caption);
    // Each later caption a whole second after the last: never sooner, and late by at most a
    // few of the hand's looks, however busy the machine.
    for (qsizetype i = 1; i < std::min<qsizetype>(shownAt.size(), 4); ++i)
        QVERIFY2(shownAt[i] >= i * 1000 && shownAt[i] < i * 1000 + 400,
            qPrintable(captions[i] + u" at " + QString::number(shownAt[i]) + u" ms"));
}

void TestLockdown::parentsChoice_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("kept");
    QTest::newRow("no settings yet") << QByteArray() << true;
    QTest::newRow("settings Qt cannot read") << QByteArray("[lezione\n\xff\x00=") << true;
    QTest::newRow("a file where the folder goes") << QByteArray("folder") << false;
}

// Faults: the choice said kept where it was not, or left shown as made; settings readable by
// others; a broken file never mended.
void TestLockdown::parentsChoice()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, kept);
    const QString config = m_dir.filePath(QString::fromUtf8(QTest::currentDataTag()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    const auto unset = qScopeGuard([] { qunsetenv("XDG_CONFIG_HOME"); });
    qputenv("SDL_AUDIODRIVER", "dummy");
    const QString file = lock::settingsFile();
    if (!before.isEmpty())
        QVERIFY(write(before == "folder" ? QFileInfo(file).path() : file, before));
    lesson::SdlSound sound;
    family::FamilyWindow window(sound, QStringLiteral(NUMERI_BUILD_DIR));
    window.show();
    auto *choice = window.findChild<QCheckBox *>();
    auto *status = window.findChild<QLabel *>(QStringLiteral("status"));
    QVERIFY(!choice->isChecked());
    QTest::mouseClick(choice, Qt::LeftButton, {}, QPoint(5, choice->height() / 2));
    QTRY_VERIFY(status->text().startsWith(kept ? u"Fatto" : u"La scelta non è stata salvata"));
    QCOMPARE(choice->isChecked(), kept);
    QCOMPARE(lock::alwaysFullScreen(), kept);
    if (kept) {
        QCOMPARE(mode(file), 0600);
        QCOMPARE(mode(QFileInfo(file).path()), 0700);
    }
    sound.stop(std::chrono::seconds(5));
}

void TestLockdown::x11_data()
{
    QTest::addColumn<bool>("locked");
    QTest::newRow("locked") << true;
    QTest::newRow("plain, which proves the bindings") << false;
}

// Faults: the grab's result ignored, or a refused grab not asked for again; the grab let go while
// a box is open, or not taken back after it; a box a window of its own, or losing its keys under
// the grab; Esc's hold shortened to a tap, or not begun in the box a tap opened.
void TestLockdown::x11()
{
    QFETCH(bool, locked);
    for (const QString &mark : marks())
        QVERIFY(QFile::remove(m_dir.filePath(mark)));
    // Locked by the parent's choice, kept in the settings, as --schermo-intero is no more.
    const QString config = m_dir.filePath(QStringLiteral("config"));
    QVERIFY(write(config + u"/numeri/numeri.ini",
        locked ? "[lezione]\nschermoIntero=true\n" : "[lezione]\nschermoIntero=false\n"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    // Another program, which holds the keyboard as the lesson starts, then the pointer, and lets
    // go of one and then the other: the lesson has neither until it can have both.
    OtherProgram other;
    if (locked)
        QVERIFY(other.grabKeyboard());
    Numeri program(env);
    QVERIFY(windowShows(QStringLiteral("^Ti insegno i numeri fino a 9$")));
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
    // Super+e types an e, whose box is open for the keys after it: drawn in the lesson's window,
    // not one of its own that the window manager would place, focus and let its shortcuts past.
    const XScreen screen;
    const QList<xcb_window_t> before = screen.shownTopLevels();
    for (const char *combo : { "super+e", "alt+Tab", "alt+space", "alt+F4" }) {
        keys(u"key " + QLatin1String(combo));
        if (locked && combo[0] == 's') {
            QTRY_VERIFY(screen.boxInMiddle());
            QCOMPARE(screen.shownTopLevels(), before);
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
    // Tapped, Esc is a key; held in the warning that opened, it leaves.
    keys(QStringLiteral("key Escape"));
    QTRY_VERIFY(screen.boxInMiddle());
    QCOMPARE(program.state(), QProcess::Running);
    keys(QStringLiteral("keydown Escape sleep 3.5"));
    QVERIFY(screen.boxInMiddle());
    QCOMPARE(screen.shownTopLevels(), before);
    keys(QStringLiteral("keyup Escape sleep 0.2 key Return"));
    QVERIFY(program.endsWell(false));
    QCOMPARE(marks(), QStringList());
}

// Faults: the inhibitor never asked for; its loss not said, on standard error or to the parent.
void TestLockdown::wayland()
{
    // sway runs as an unprivileged user alone: as root the test is that of the user nobody.
    for (const QString &mark : marks())
        QVERIFY(QFile::remove(m_dir.filePath(mark)));
    QStringList as;
    if (::geteuid() == 0) {
        as = words("setpriv --reuid=nobody --regid=nogroup --clear-groups");
        QVERIFY(::chown(QFile::encodeName(m_dir.path()).constData(), 65534, 65534) == 0);
    }
    const QString runtime = m_dir.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkdir(runtime)
        && QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    if (!as.isEmpty())
        QVERIFY(::chown(QFile::encodeName(runtime).constData(), 65534, 65534) == 0);
    const QString config = m_dir.filePath(QStringLiteral("sway"));
    QVERIFY(write(config,
        "bindsym Mod4+e exec touch " + QFile::encodeName(m_dir.path()) + "/mark-super-e\n"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *pair : { "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1",
             "WLR_RENDERER=pixman", "QT_QPA_PLATFORM=wayland", "SDL_AUDIODRIVER=dummy" })
        env.insert(QString::fromLatin1(pair).section(u'=', 0, 0),
            QString::fromLatin1(pair).section(u'=', 1));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    // Full stacks, for the sanitizer build's leak check to tell Qt's Wayland libraries by name.
    if (env.contains(QStringLiteral("ASAN_OPTIONS")))
        env.insert(QStringLiteral("ASAN_OPTIONS"),
            env.value(QStringLiteral("ASAN_OPTIONS")) + u":fast_unwind_on_malloc=0");
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.remove(QStringLiteral("DISPLAY"));
    const auto start = [&](QProcess &p, QStringList command) {
        p.setProcessEnvironment(env);
        command = as + command;
        p.start(command.takeFirst(), command);
        return p.waitForStarted();
    };
    Ended sway, keyboard;
    QVERIFY(start(sway, { QStringLiteral("sway"), QStringLiteral("-c"), config }));
    QTRY_VERIFY(QFile::exists(runtime + u"/wayland-1"));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-1"));
    // sway gives the seat a virtual keyboard's keys only where one was there before the program.
    QVERIFY(start(keyboard, words("wtype -s 60000")));
    QTest::qWait(300);
    Numeri program(env, { QStringLiteral("--schermo-intero") }, as);
    QVERIFY(program.says("tasti del desktop bloccati"));
    const auto superE = [&] { run(as + words("wtype -M logo e -m logo"), env); };
    superE();
    QTest::qWait(700);
    QCOMPARE(marks(), QStringList());
    const QString ipc
        = QDir(runtime).entryList({ QStringLiteral("sway-ipc.*") }, QDir::System).value(0);
    run(as + words("swaymsg -s") + QStringList { runtime + u'/' + ipc }
            + words("seat - shortcuts_inhibitor deactivate"),
        env);
    QVERIFY(program.says("non blocca più i suoi tasti"));
    // And the parent's window will say so, from the settings.
    QTRY_VERIFY(contentOf(m_dir.filePath(QStringLiteral(".config/numeri/numeri.ini")))
                    .contains("non blocca pi"));
    superE();
    QTRY_COMPARE(marks(), QStringList { QStringLiteral("mark-super-e") });
    QVERIFY(program.endsWell());
}

QTEST_MAIN(TestLockdown)
#include "tst_lockdown.moc"
