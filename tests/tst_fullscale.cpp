// The locked full screen as large as the screen allows: the installed program on X servers of
// several sizes and on sway with its output scaled by 2, read from the screen as a child sees it.
#include "lesson/sound.h"
#include "screenshot.h"
#include "shell/form1.h"
#include "soundserver.h"
#include "testkit.h"
#include "xscreen.h"

#include <QDebug>
#include <QDir>
#include <cmath>
#include <unistd.h>

using namespace testkit;

namespace {
// The form's design size, in logical pixels.
constexpr QSize form(517, 573);
// The cards' cream, inside a black corner of 6 pixels a side.
constexpr QRgb cream = 0xfff3c4;
constexpr QSize card(460, 260), creamOfCard(448, 248);
const QString program = QStringLiteral(NUMERI_BUILD_DIR "/numeri");

// What the screen showed after a 7, measured.
struct Seen
{
    QImage screen;
    QRect menuBar, picture, box; // the box: the warning, after a letter
    QSize pointer;
    bool isValid() const { return picture.isValid(); }
    bool operator==(const Seen &o) const { return menuBar == o.menuBar && picture == o.picture; }
};

Seen measured(const QImage &screen)
{
    // The menu bar is the form's top and its width: the first run of light grey across a row.
    QRect menuBar;
    for (int y = 0; y + 4 < screen.height() / 4 && !menuBar.isValid(); ++y) {
        for (int x = 0, run = 0; x < screen.width() && run < 20; ++x) {
            run = qGray(screen.pixel(x, y)) > 200 ? run + 1 : 0;
            if (run == 20)
                menuBar = boundsOf(screen, screen.pixel(x, y + 3), 6,
                    QRect(0, y, screen.width(), screen.height() / 4));
        }
    }
    return { screen, menuBar, boundsOf(screen, cream, 12), {}, {} };
}

// The warning box on SCREEN, drawn in the window below its menu bar MENUBAR, whose grey it shares.
QRect boxOn(const QImage &screen, QRect menuBar)
{
    return boundsOf(screen, screen.pixel(menuBar.center()), 6,
        QRect(0, menuBar.bottom() + 2, screen.width(), screen.height()));
}

// What LOOK gives once it gives the same twice running: a frame drawn on the way to the last one
// is not measured.
template<typename Look> auto steady(const Look &look)
{
    decltype(look()) last {};
    for (int i = 0; i < 100; ++i) {
        auto now = look();
        if (now.isValid() && now == last)
            return now;
        last = std::move(now);
        QTest::qWait(50);
    }
    return last;
}

// The system's environment with each of CHANGES, "NAME=value", set, and each bare NAME taken out.
QProcessEnvironment environment(const QStringList &changes)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &c : changes)
        c.contains(u'=') ? env.insert(c.section(u'=', 0, 0), c.section(u'=', 1)) : env.remove(c);
    return env;
}

// A program that runs for as long as this lives.
class Running : public QProcess
{
public:
    Running(QStringList command, const QProcessEnvironment &env)
    {
        setProcessEnvironment(env);
        start(command.takeFirst(), command);
    }
    ~Running() override
    {
        terminate();
        waitForFinished();
    }
    // What it has said on CHANNEL once that holds TEXT, or after 10 s.
    QByteArray until(const char *text, ProcessChannel channel = StandardError)
    {
        setReadChannel(channel);
        QByteArray said;
        for (int i = 0; i < 200 && !said.contains(text); ++i) {
            waitForReadyRead(50);
            said += readAll();
        }
        return said;
    }
};

// The warning box at 1x, as the locked lesson draws it in its own window here.
QSize boxAtOneX()
{
    struct : lesson::Sound
    {
        void suona(const QString &, const QString &) override { }
    } silence;
    Form1 form(silence, QStringLiteral(NUMERI_BUILD_DIR));
    form.holdEscapeToLeave();
    form.show();
    if (!QTest::qWaitForWindowActive(&form))
        return {};
    return press(QStringLiteral("a")).value(0).place.size();
}

// The best card file for a screen scaled by FACTOR, and that file enlarged or reduced to the size
// the card is shown at.
QImage cardAt(qreal factor)
{
    const int times = std::clamp(int(std::ceil(factor - 0.01)), 1, 4);
    const QString file
        = times == 1 ? QStringLiteral("7.jpg") : QStringLiteral("7@%1x.jpg").arg(times);
    return QImage(builtMedia() + u'/' + file)
        .scaled((QSizeF(card) * factor).toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Whether A is B to within the share SHARE of B.
bool near(qreal a, qreal b, qreal share)
{
    return std::abs(a / b - 1) < share;
}
} // namespace

class TestFullScale : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lesson_data();
    void lesson();

private:
    Seen onX(QSize size, bool locked);
    Seen onSway(QSize size);

    QTemporaryDir m_dir;
};

void TestFullScale::lesson_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<bool>("wayland");
    QTest::addColumn<bool>("locked");
    QTest::newRow("X 1280x800") << QSize(1280, 800) << false << true;
    QTest::newRow("X 1920x1080") << QSize(1920, 1080) << false << true;
    QTest::newRow("X 3840x2160") << QSize(3840, 2160) << false << true;
    QTest::newRow("X 1920x1080, plain") << QSize(1920, 1080) << false << false;
    QTest::newRow("sway, second output, 3840x2160 at scale 2") << QSize(3840, 2160) << true << true;
}

// Faults: the form left at its design size, or scaled past the screen, or off its middle; the
// factor taken from the screen's pixels where the desktop scales them (a Wayland output at 2),
// or from another screen than the window's; the 1x
// card, or the 2x one, enlarged where a larger file is there; the pointer left small; the plain
// window scaled too.
void TestFullScale::lesson()
{
    QFETCH(QSize, screen);
    QFETCH(bool, wayland);
    QFETCH(bool, locked);
    const Seen seen = wayland ? onSway(screen) : onX(screen, locked);
    QVERIFY2(seen.menuBar.isValid(), "nothing shown");
    QCOMPARE(seen.screen.size(), screen);
    const qreal factor = seen.menuBar.width() / qreal(form.width());
    const QSizeF shown = QSizeF(form) * factor;
    const QPointF middle = QRectF(seen.menuBar.topLeft(), shown).center();
    const QSize atOneX = locked ? boxAtOneX() : QSize();
    QString told;
    QDebug(&told) << "factor" << factor << "menu bar" << seen.menuBar << "picture" << seen.picture
                  << "pointer" << seen.pointer << "box" << seen.box << "at 1x" << atOneX;
    if (locked) {
        // Filling the height or the width, within the screen, in the middle.
        const QPointF off = middle - QPointF(screen.width(), screen.height()) / 2;
        QVERIFY2(shown.height() <= screen.height() && shown.width() <= screen.width()
                && std::max(shown.height() / screen.height(), shown.width() / screen.width())
                    >= 0.97
                && std::abs(off.x()) <= 2 && std::abs(off.y()) <= 2,
            qPrintable(told));
        // The warning box at the same factor, in the form's middle to within a logical pixel,
        // the box's own being whole ones.
        QVERIFY2(near(seen.box.width(), atOneX.width() * factor, 0.03)
                && near(seen.box.height(), atOneX.height() * factor, 0.03)
                && (QRectF(seen.box).center() - middle).manhattanLength()
                    <= 2 * std::max(1.0, factor),
            qPrintable(told));
    } else {
        QCOMPARE(seen.menuBar.width(), form.width());
    }
    // The pointer at the same factor, where X tells its size, and the card.
    QVERIFY2(wayland || std::abs(seen.pointer.width() - 32 * factor) <= 1.5, qPrintable(told));
    QVERIFY2(near(seen.picture.width(), creamOfCard.width() * factor, 0.02)
            && near(seen.picture.height(), creamOfCard.height() * factor, 0.02),
        qPrintable(told));
    // The card as sharp as its best file drawn at that size.
    const QImage best = cardAt(factor);
    const double sharp = edgeEnergy(seen.screen, seen.picture);
    const double ofFile = edgeEnergy(best, boundsOf(best, cream, 12));
    QVERIFY2(sharp > 0.85 * ofFile,
        qPrintable(told + QStringLiteral(" edges %1, the file's %2").arg(sharp).arg(ofFile)));
}

Seen TestFullScale::onX(QSize size, bool locked)
{
    Running server(words("Xvfb -displayfd 1 -nolisten tcp -screen 0")
            << QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()),
        QProcessEnvironment::systemEnvironment());
    const QByteArray number = server.until("\n", QProcess::StandardOutput).trimmed();
    if (number.isEmpty())
        return {};
    const QByteArray display = ':' + number;
    const QProcessEnvironment env
        = environment(words("SDL_AUDIODRIVER=dummy XDG_CONFIG_HOME XDG_DATA_HOME QT_QPA_PLATFORM "
                            "WAYLAND_DISPLAY")
            << QString::fromLatin1("DISPLAY=" + display) << QStringLiteral("HOME=") + m_dir.path());
    Running lesson(
        QStringList { program } + (locked ? words("--schermo-intero") : QStringList()), env);
    if (locked)
        lesson.until("bloccati");
    else
        run(words("xdotool search --sync --onlyvisible --name numeri windowfocus --sync"), env);
    // The pointer over the form, where X says which one it shows.
    run(words("xdotool mousemove") << QString::number(locked ? size.width() / 2 : 200)
                                   << QString::number(locked ? size.height() / 2 : 300),
        env);
    run(words("xdotool key 7"), env);
    const auto grab = [&] { return XScreen(display.constData()).shot(); };
    Seen seen = steady([&] { return measured(grab()); });
    seen.pointer = pointerSize(display);
    if (locked) {
        run(words("xdotool key a"), env);
        seen.box = steady([&] { return boxOn(grab(), seen.menuBar); });
    }
    return seen;
}

Seen TestFullScale::onSway(QSize size)
{
    // sway runs as an unprivileged user alone: as root the test is that of the user nobody.
    const QString folder = m_dir.filePath(QStringLiteral("sway")), runtime = folder + u"/run";
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QStringList as;
    if (::geteuid() == 0) {
        as = words("setpriv --reuid=nobody --regid=nogroup --clear-groups");
        for (const QString &f : { m_dir.path(), folder, runtime })
            if (::chown(QFile::encodeName(f).constData(), 65534, 65534) != 0)
                return {};
    }
    // Two outputs, the lesson moved to the second, scaled by 2: the factor is then that screen's,
    // in its logical pixels, not that of the first, nor of Qt's first screen.
    const QString config = folder + u"/config";
    write(config,
        QStringLiteral("output HEADLESS-1 mode 1280x800 position 0 0\n"
                       "output HEADLESS-2 mode %1x%2 scale 2 position 1280 0\n")
            .arg(size.width())
            .arg(size.height())
            .toUtf8());
    QProcessEnvironment env = environment(
        words("WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=2 WLR_LIBINPUT_NO_DEVICES=1 "
              "WLR_RENDERER=pixman QT_QPA_PLATFORM=wayland SDL_AUDIODRIVER=dummy XDG_CONFIG_HOME "
              "XDG_DATA_HOME DISPLAY")
        << QStringLiteral("XDG_RUNTIME_DIR=") + runtime << QStringLiteral("HOME=") + folder);
    Running sway(as + QStringList { QStringLiteral("sway"), QStringLiteral("-c"), config }, env);
    for (int i = 0; i < 100 && !QFile::exists(runtime + u"/wayland-1"); ++i)
        QTest::qWait(50);
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-1"));
    // sway gives the seat a virtual keyboard's keys only where one was there before the program.
    Running keyboard(as + words("wtype -s 60000"), env);
    QTest::qWait(300);
    Running lesson(as + QStringList { program } + words("--schermo-intero"), env);
    lesson.until("bloccati");
    // A 7 on the first output; then moved, full screen, to the second, as sway does when told.
    run(as + words("wtype 7"), env);
    QTest::qWait(300);
    const QString ipc
        = QDir(runtime).entryList({ QStringLiteral("sway-ipc.*") }, QDir::System).value(0);
    run(as + words("swaymsg -s") + QStringList { runtime + u'/' + ipc }
            + words("[app_id=org.numeri.numeri] move container to output HEADLESS-2;"
                    " [app_id=org.numeri.numeri] focus"),
        env);
    const QString shot = folder + u"/screen.png";
    const auto grab = [&] {
        run(as + words("grim -o HEADLESS-2") << shot, env);
        return QImage(shot);
    };
    Seen seen = steady([&] { return measured(grab()); });
    run(as + words("wtype a"), env);
    seen.box = steady([&] { return boxOn(grab(), seen.menuBar); });
    return seen;
}

QTEST_MAIN(TestFullScale)
#include "tst_fullscale.moc"
