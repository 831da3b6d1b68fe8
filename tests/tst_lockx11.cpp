// The locked lesson on X11 with another program's window, a second start and a bare X server that
// changes its size: the program as built, on xvfb-run's server.
#include "otherprogram.h"
#include "soundserver.h"
#include "xscreen.h"

#include <QApplication>
#include <QDir>
#include <QTest>

using namespace testkit;

namespace {
const QString title = QStringLiteral("^Ti insegno i numeri fino a 9$");
const QStringList locked = { QStringLiteral("--schermo-intero") };
} // namespace

class TestLockX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void otherWindow_data();
    void otherWindow();
    void secondStart();
    void bareServerResized();

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
};

void TestLockX11::initTestCase()
{
    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    const QString runtime = m_dir.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkdir(runtime)
        && QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
}

void TestLockX11::otherWindow_data()
{
    QTest::addColumn<bool>("openbox");
    QTest::newRow("openbox") << true;
    QTest::newRow("no window manager") << false;
}

// Faults: a notice that another program opens while the lesson is locked covers the digit, and the
// child, whose clicks are grabbed, cannot close it.
void TestLockX11::otherWindow()
{
    QFETCH(bool, openbox);
    Ended windowManager, notice;
    QVERIFY(!openbox || startOpenbox(windowManager));
    Numeri program(m_env, locked);
    QVERIFY(program.says("bloccati"));
    const xcb_window_t lesson = windowShows(title);
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

// Faults: a second locked start shows on top of the first, whose grab keeps the child's keys, so
// the visible lesson looks frozen; the second fails instead of ending with status 0.
void TestLockX11::secondStart()
{
    Ended openbox;
    QVERIFY(startOpenbox(openbox));
    Numeri first(m_env, locked);
    QVERIFY(first.says("bloccati"));
    Numeri second(m_env, locked);
    QVERIFY(second.endsWell(false));
    QVERIFY(second.says("già aperto a schermo intero"));
    QVERIFY(OtherProgram().lockedOut());
    QVERIFY(first.endsWell());
}

// Fault: only the first change of a bare X server's size followed, the lesson left at the old
// size in a corner, with the pointer kept there.
void TestLockX11::bareServerResized()
{
    // Xephyr is a bare X server whose size xrandr changes, as a screen's changes.
    int number = 90;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
        ++number;
    const QString display = QStringLiteral(":%1").arg(number);
    Ended xephyr;
    xephyr.start(QStringLiteral("Xephyr"),
        QStringList { display } << words("-screen 1024x768 -resizeable -nolisten tcp -noreset"));
    QTRY_VERIFY(run(words("xdpyinfo -display") << display).contains("dimensions"));
    QProcessEnvironment env = m_env;
    env.insert(QStringLiteral("DISPLAY"), display);
    Numeri program(env, locked);
    const xcb_window_t lesson = windowShows(title, env);
    QVERIFY(lesson);
    const QByteArray name = display.toLatin1();
    const XScreen screen(name.constData());
    QTRY_COMPARE(screen.geometryOf(lesson), QRect(0, 0, 1024, 768));
    for (const QSize size : { QSize(800, 600), QSize(1600, 1200) }) {
        run(words("xrandr -display")
            << display << QStringLiteral("-s")
            << QStringLiteral("%1x%2").arg(size.width()).arg(size.height()));
        QTRY_COMPARE(screen.size(), size);
        QTRY_COMPARE(screen.geometryOf(lesson), QRect(QPoint(), size));
    }
    QVERIFY(program.endsWell());
}

QTEST_MAIN(TestLockX11)
#include "tst_lockx11.moc"
