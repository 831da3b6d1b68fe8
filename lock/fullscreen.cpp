#include "lock/fullscreen.h"

#include "lock/native.h"
#include "shell/pngicons.h"
#include "xdg-shell-client-protocol.h"

#include <QCursor>
#include <QGridLayout>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QScopeGuard>
#include <QScreen>
#include <QWindow>
#include <QtGui/private/qhighdpiscaling_p.h>
#include <cmath>
#include <qpa/qplatformscreen.h>
#include <qpa/qplatformwindow.h>
#include <wayland-client.h>

namespace lock {

namespace {
// The form fills this much of the screen's height or width, so that its edges never touch the
// screen's, which a television may crop.
constexpr qreal filled = 0.985;
// How far under the largest factor one that centres the form to the pixel is looked for, and
// how near the middle is near enough: a Wayland output scaled by 2 doubles it on the screen.
constexpr qreal centringRoom = 0.99;
constexpr qreal withinAPixel = 0.3;

// The form's pointer, drawn afresh from the largest of its files that is needed, so that it keeps
// to the form's scale and stays sharp.
QCursor pointer(qreal ratio)
{
    const int times = std::clamp(int(std::ceil(ratio - 0.01)), 1, 4);
    QPixmap picture;
    for (int n = times; n > 1 && picture.isNull(); --n)
        picture = QPixmap::fromImage(readPng(QStringLiteral(":/icons/pointer@%1x.png").arg(n)));
    if (picture.isNull())
        picture = QPixmap::fromImage(readPng(QStringLiteral(":/icons/pointer.png")));
    const int side = qRound(32 * ratio);
    if (picture.width() != side)
        picture = picture.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    picture.setDevicePixelRatio(ratio);
    return QCursor(picture, 0, 0);
}
} // namespace

qreal centredFactor(QSizeF native, QSize form, qreal most)
{
    // Qt rounds the screen's size to whole logical pixels, the layout halves what is left over
    // in whole ones, and each logical pixel is FACTOR native ones: how far that puts the form
    // from the true middle, in native pixels. A factor at which the screen's size in logical
    // pixels does not come back to its own in native ones would make the window a pixel too
    // large or small for its screen: any other is better.
    const auto offMiddle = [&](qreal factor) {
        qreal worst = 0;
        for (const auto &[screen, size] : { std::pair(native.width(), form.width()),
                 std::pair(native.height(), form.height()) }) {
            const int logical = qRound(screen / factor);
            const int left = (logical - size) / 2;
            worst = std::max(worst, std::abs(left * factor - (screen - size * factor) / 2));
            if (qRound(logical * factor) != qRound(screen))
                worst += 1000;
        }
        return worst;
    };
    constexpr int steps = 1000;
    qreal best = most, bestOff = offMiddle(most);
    for (int i = 0; i <= steps && bestOff > withinAPixel; ++i) {
        const qreal factor = most * (1 - (1 - centringRoom) * i / steps);
        if (const qreal off = offMiddle(factor); off < bestOff)
            best = factor, bestOff = off;
    }
    return best;
}

FullScreen::FullScreen(QWidget *form)
    : m_form(form)
{
    setWindowTitle(form->windowTitle());
    setWindowIcon(form->windowIcon());
    setCursor(form->cursor());
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    form->setParent(this);
    layout->addWidget(form, 0, 0, Qt::AlignCenter);
    // A window made a child is hidden until told otherwise.
    form->show();
    // Scaled before the window is made, so that its first frame is drawn at the final size.
    follow(screen());
}

FullScreen::~FullScreen()
{
    // The screen goes back to what the desktop made it, for whatever outlives the lesson; unheard,
    // as the new geometry would otherwise have the screen fitted, and scaled, once again.
    if (m_followed) {
        disconnect(m_followed, nullptr, this, nullptr);
        QHighDpiScaling::setScreenFactor(m_followed, 1);
    }
}

void FullScreen::showWhereTheKeysAre()
{
    // Qt asks a Wayland compositor for the full screen on an output it names: its own first
    // screen, for a window not yet on any. The compositor puts the window there even where its
    // keyboard is on another output (sway 1.10 with two screens), and the child's keys then go to
    // an empty workspace. Asked with no output, before the first frame, the compositor chooses
    // the one it gives the keys to; its answer tells Qt that the window is full screen. With one
    // screen there is nothing to choose, and Qt's own request, made as the window is made, spares
    // KWin decorating a window whose frame the full screen then takes off: 4 ms before the first
    // frame.
    if (QGuiApplication::platformName() == u"wayland" && QGuiApplication::screens().size() > 1) {
        show();
        auto *toplevel
            = static_cast<xdg_toplevel *>(nativeResource("xdg_toplevel", windowHandle()));
        auto *display = static_cast<wl_display *>(nativeResource("wl_display"));
        if (toplevel && display) {
            xdg_toplevel_set_fullscreen(toplevel, nullptr);
            wl_display_flush(display);
            return;
        }
    }
    showFullScreen();
}

void FullScreen::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (QWindow *window = windowHandle()) {
        connect(window, &QWindow::screenChanged, this, &FullScreen::follow, Qt::UniqueConnection);
        follow(window->screen());
    }
}

void FullScreen::paintEvent(QPaintEvent *event)
{
    // Painted rather than set in the palette, which the form's menu bar would take on too.
    QPainter(this).fillRect(event->rect(), Qt::black);
}

void FullScreen::follow(QScreen *screen)
{
    if (screen == m_followed) {
        fit();
        return;
    }
    if (m_followed) {
        disconnect(m_followed, nullptr, this, nullptr);
        QHighDpiScaling::setScreenFactor(m_followed, 1);
    }
    m_followed = screen;
    m_factor = 1;
    if (!screen)
        return;
    connect(screen, &QScreen::geometryChanged, this, &FullScreen::fit);
    fit();
}

void FullScreen::fit()
{
    // Qt 6.8 tells of the screen's new geometry while its factor is being set.
    if (!m_followed || m_fitting)
        return;
    m_fitting = true;
    const auto fitted = qScopeGuard([this] { m_fitting = false; });
    // The whole form is scaled by one factor of Qt's for its screen, on top of any the desktop
    // asks for (a Wayland output's scale, QT_SCALE_FACTOR): Qt then draws every text and line at
    // the scaled size and picks the @Nx pictures, and the form keeps its design in logical pixels.
    const QSizeF native = m_followed->handle()->geometry().size();
    const qreal desktops = QHighDpiScaling::factor(m_followed) / m_factor;
    const QSize form = m_form->sizeHint();
    const qreal most
        = std::min(native.width() / form.width(), native.height() / form.height()) * filled;
    const qreal factor = centredFactor(native, form, most) / desktops;
    if (!qFuzzyCompare(factor, m_factor)) {
        QHighDpiScaling::setScreenFactor(m_followed, factor);
        m_factor = factor;
        const QCursor scaled = pointer(m_followed->devicePixelRatio());
        setCursor(scaled);
        m_form->setCursor(scaled);
        // As Qt will reckon it: its factor for the screen times the ratio the platform gives the
        // window (a Wayland compositor's scale for it), or the screen before there is a window.
        const QPlatformWindow *made = windowHandle() ? windowHandle()->handle() : nullptr;
        Q_EMIT rescaled(QHighDpiScaling::factor(m_followed)
            * (made ? made->devicePixelRatio() : m_followed->handle()->devicePixelRatio()));
    }
    // A window manager keeps a full-screen window the size of its screen; without one, as on a
    // bare X server, nobody else would. Not asked whether the window is full screen: Qt says no
    // once it has been resized, and every later size would go unfollowed. Before the window is
    // made, this is the size it is made at. On X the size is compared and set in the screen's
    // own pixels: a new size brings a new factor, at which the window's size in logical pixels
    // may well be what it was, and Qt would then leave it as it is.
    QPlatformWindow *window = windowHandle() ? windowHandle()->handle() : nullptr;
    const QRect screenPixels = m_followed->handle()->geometry();
    if (window && QGuiApplication::platformName() == u"xcb") {
        if (window->geometry() != screenPixels)
            window->setGeometry(screenPixels);
    } else if (geometry() != m_followed->geometry()) {
        setGeometry(m_followed->geometry());
    }
}

} // namespace lock
