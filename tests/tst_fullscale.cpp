// The locked full screen as large as the screen allows: the installed program on X servers of
// several sizes and on sway with its output scaled by 2, read from the screen as a child sees it.
#include "lesson/sound.h"
#include "screenshot.h"
#include "shell/form1.h"
#include "soundserver.h"
#include "testkit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QScopeGuard>
#include <cmath>
#include <functional>
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
    QRect menuBar, digit, picture;
    QSize pointer;
    QRect box; // the warning box, after a letter
};

// Whether the screen shows a 7 and its picture as it did at the last look, LAST, which becomes
// NOW: a frame drawn on the way to the last one is not measured.
bool settled(Seen &last, const Seen &now)
{
    const bool same = now.picture.isValid() && now.picture == last.picture
        && now.menuBar == last.menuBar && now.digit == last.digit;
    last = now;
    return same;
}

// The box drawn in the window, as it stands in the screens GRAB gives, below the menu bar MENUBAR
// whose grey it shares.
QRect boxOn(const std::function<QImage()> &grab, QRect menuBar)
{
    QRect last;
    for (int i = 0; i < 40; ++i) {
        const QImage screen = grab();
        const QRect below(0, menuBar.bottom() + 2, screen.width(), screen.height());
        const QRect box = boundsOf(screen, screen.pixel(menuBar.center()), 6, below);
        if (box.isValid() && box == last)
            return box;
        last = box;
        QTest::qWait(50);
    }
    return {};
}

// The warning box at 1x, as the locked lesson draws it in its own window here.
QSize boxAtOneX()
{
    class NoSound : public lesson::Sound
    {
    public:
        void suona(const QString &, const QString &) override { }
    } sound;
    Form1 form(sound, QStringLiteral(NUMERI_BUILD_DIR));
    form.holdEscapeToLeave();
    form.show();
    if (!QTest::qWaitForWindowActive(&form))
        return {};
    QSize size;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &form, [&] {
        if (auto *box = form.findChild<QMessageBox *>(); box && box->isVisible()) {
            size = box->size();
            box->button(QMessageBox::Ok)->click();
        }
    });
    look.start(50);
    QTest::sendKeyEvent(
        QTest::Click, QApplication::focusWidget(), Qt::Key_A, QStringLiteral("a"), {});
    return size;
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

// The height of a 7 drawn in the digit's font, 216 points at 96 dots an inch, at 1x.
qreal digitHeight()
{
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    font.setPixelSize(288);
    return QFontMetricsF(font).tightBoundingRect(QStringLiteral("7")).height();
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
    static Seen measured(const QImage &screen);

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
// or from another screen than the window's; the digit magnified from a smaller drawing; the 1x
// card, or the 2x one, enlarged where a larger file is there; the pointer left small; the plain
// window scaled too.
void TestFullScale::lesson()
{
    QFETCH(QSize, screen);
    QFETCH(bool, wayland);
    QFETCH(bool, locked);
    const Seen seen = wayland ? onSway(screen) : onX(screen, locked);
    QVERIFY2(!seen.screen.isNull() && seen.menuBar.isValid(), "nothing shown");
    QCOMPARE(seen.screen.size(), screen);
    const qreal factor = seen.menuBar.width() / qreal(form.width());
    const QSizeF shown = QSizeF(form) * factor;
    if (!locked) {
        QCOMPARE(seen.menuBar.width(), form.width());
    } else {
        // Filling the height or the width, within the screen, in the middle.
        QVERIFY2(shown.height() <= screen.height() && shown.width() <= screen.width(),
            qPrintable(QStringLiteral("factor %1").arg(factor)));
        QVERIFY2(std::max(shown.height() / screen.height(), shown.width() / screen.width()) >= 0.97,
            qPrintable(QStringLiteral("factor %1").arg(factor)));
        QVERIFY(
            std::abs(seen.menuBar.left() + seen.menuBar.width() / 2.0 - screen.width() / 2.0) <= 2);
        QVERIFY2(std::abs(seen.menuBar.top() - (screen.height() - shown.height()) / 2) <= 2,
            qPrintable(QStringLiteral("top %1 of %2").arg(seen.menuBar.top()).arg(shown.height())));
    }
    // The pointer at the same factor, where X tells its size.
    if (!wayland)
        QVERIFY2(std::abs(seen.pointer.width() - 32 * factor) <= 1.5,
            qPrintable(QStringLiteral("pointer %1").arg(seen.pointer.width())));
    // The digit drawn at the scaled size.
    QVERIFY2(std::abs(seen.digit.height() / (digitHeight() * factor) - 1) < 0.03,
        qPrintable(QStringLiteral("digit %1 high").arg(seen.digit.height())));
    // The card at the same factor, and as sharp as its best file drawn at that size.
    QVERIFY2(std::abs(seen.picture.width() / (creamOfCard.width() * factor) - 1) < 0.02
            && std::abs(seen.picture.height() / (creamOfCard.height() * factor) - 1) < 0.02,
        qPrintable(QStringLiteral("picture %1 x %2")
                       .arg(seen.picture.width())
                       .arg(seen.picture.height())));
    // The warning box at the same factor, in the form's middle to within a logical pixel, the
    // box's own being whole ones.
    if (locked) {
        const QSize atOneX = boxAtOneX();
        const QPointF middle(
            seen.menuBar.left() + shown.width() / 2, seen.menuBar.top() + shown.height() / 2);
        QVERIFY2(std::abs(seen.box.width() / (atOneX.width() * factor) - 1) < 0.03
                && std::abs(seen.box.height() / (atOneX.height() * factor) - 1) < 0.03
                && (QRectF(seen.box).center() - middle).manhattanLength()
                    <= 2 * std::max(1.0, factor),
            qPrintable(QStringLiteral("box %1 x %2 at %3, %4; at 1x %5 x %6")
                           .arg(seen.box.width())
                           .arg(seen.box.height())
                           .arg(seen.box.x())
                           .arg(seen.box.y())
                           .arg(atOneX.width())
                           .arg(atOneX.height())));
    }
    const QImage best = cardAt(factor);
    const QRect bestCream = boundsOf(best, cream, 12);
    const auto inside = [](QRect r) {
        return r.adjusted(r.width() / 20, r.height() / 20, -r.width() / 20, -r.height() / 20);
    };
    const double sharp = edgeEnergy(seen.screen.copy(inside(seen.picture)));
    const double ofFile = edgeEnergy(best.copy(inside(bestCream)));
    QVERIFY2(sharp > 0.85 * ofFile,
        qPrintable(QStringLiteral("edges %1, the file's %2").arg(sharp).arg(ofFile)));
}

Seen TestFullScale::measured(const QImage &screen)
{
    Seen seen { screen, {}, {}, {}, {}, {} };
    // The menu bar is the form's top and its width: the first run of light grey across a row.
    for (int y = 0; y + 4 < screen.height() / 4 && !seen.menuBar.isValid(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(screen.constScanLine(y));
        for (int x = 0, run = 0; x < screen.width(); ++x) {
            run = qGray(line[x]) > 200 ? run + 1 : 0;
            if (run == 20) {
                seen.menuBar = boundsOf(screen, screen.pixel(x, y + 3), 6,
                    QRect(0, y, screen.width(), screen.height() / 4));
                break;
            }
        }
    }
    seen.digit = boundsOf(screen, qRgb(0, 255, 255), 40);
    seen.picture = boundsOf(screen, cream, 12);
    return seen;
}

Seen TestFullScale::onX(QSize size, bool locked)
{
    QProcess server;
    server.start(QStringLiteral("Xvfb"),
        { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
            QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()),
            QStringLiteral("-nolisten"), QStringLiteral("tcp") });
    const auto stop = qScopeGuard([&] {
        server.terminate();
        server.waitForFinished();
    });
    QByteArray number;
    for (int i = 0; i < 100 && !number.endsWith('\n'); ++i) {
        server.waitForReadyRead(100);
        number += server.readAllStandardOutput();
    }
    const QByteArray display = ':' + number.trimmed();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(display));
    env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    QProcess lesson;
    lesson.setProcessEnvironment(env);
    lesson.start(
        program, locked ? QStringList { QStringLiteral("--schermo-intero") } : QStringList());
    const auto end = qScopeGuard([&] {
        lesson.terminate();
        lesson.waitForFinished();
    });
    QByteArray said;
    if (locked) {
        for (int i = 0; i < 100 && !said.contains("bloccati"); ++i) {
            lesson.waitForReadyRead(50);
            said += lesson.readAllStandardError();
        }
    } else {
        for (int i = 0;
             i < 100 && run(words("xdotool search --onlyvisible --name numeri"), env).isEmpty();
             ++i)
            QTest::qWait(50);
        run(words("xdotool search --onlyvisible --name numeri windowfocus --sync"), env);
    }
    // The pointer over the form, where X says which one it shows.
    run(words("xdotool mousemove") << QString::number(locked ? size.width() / 2 : 200)
                                   << QString::number(locked ? size.height() / 2 : 300),
        env);
    run(words("xdotool key 7"), env);
    Seen seen;
    for (int i = 0; i < 100 && !settled(seen, measured(grabX(display))); ++i)
        QTest::qWait(50);
    seen.pointer = pointerSize(display);
    if (locked) {
        run(words("xdotool key a"), env);
        seen.box = boxOn([&] { return grabX(display); }, seen.menuBar);
    }
    return seen;
}

Seen TestFullScale::onSway(QSize size)
{
    // sway runs as an unprivileged user alone: as root the test is that of the user nobody.
    const QString folder = m_dir.filePath(QStringLiteral("sway"));
    const QString runtime = folder + u"/run";
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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *pair :
        { "WLR_BACKENDS=headless", "WLR_HEADLESS_OUTPUTS=2", "WLR_LIBINPUT_NO_DEVICES=1",
            "WLR_RENDERER=pixman", "QT_QPA_PLATFORM=wayland", "SDL_AUDIODRIVER=dummy" })
        env.insert(QString::fromLatin1(pair).section(u'=', 0, 0),
            QString::fromLatin1(pair).section(u'=', 1));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("HOME"), folder);
    for (const char *name : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "DISPLAY" })
        env.remove(QString::fromLatin1(name));
    const auto start = [&](QProcess &p, QStringList command) {
        p.setProcessEnvironment(env);
        command = as + command;
        p.start(command.takeFirst(), command);
        return p.waitForStarted();
    };
    QProcess sway, keyboard, lesson;
    const auto stop = qScopeGuard([&] {
        for (QProcess *p : { &lesson, &keyboard, &sway }) {
            p->terminate();
            p->waitForFinished();
        }
    });
    if (!start(sway, { QStringLiteral("sway"), QStringLiteral("-c"), config }))
        return {};
    for (int i = 0; i < 100 && !QFile::exists(runtime + u"/wayland-1"); ++i)
        QTest::qWait(50);
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-1"));
    // sway gives the seat a virtual keyboard's keys only where one was there before the program.
    start(keyboard, words("wtype -s 60000"));
    QTest::qWait(300);
    start(lesson, { program, QStringLiteral("--schermo-intero") });
    QByteArray said;
    for (int i = 0; i < 200 && !said.contains("bloccati"); ++i) {
        lesson.waitForReadyRead(50);
        said += lesson.readAllStandardError();
    }
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
    Seen seen;
    for (int i = 0; i < 20; ++i) {
        run(as + words("grim -o HEADLESS-2") + QStringList { shot }, env);
        if (settled(seen, measured(QImage(shot))))
            break;
        QTest::qWait(100);
    }
    run(as + words("wtype a"), env);
    seen.box = boxOn(
        [&] {
            run(as + words("grim -o HEADLESS-2") + QStringList { shot }, env);
            return QImage(shot);
        },
        seen.menuBar);
    return seen;
}

QTEST_MAIN(TestFullScale)
#include "tst_fullscale.moc"
