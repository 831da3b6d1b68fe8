#include "lock/fullscreen.h"

#include <QGridLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

namespace lock {

FullScreen::FullScreen(QWidget *form)
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
    if (m_followed)
        disconnect(m_followed, nullptr, this, nullptr);
    m_followed = screen;
    if (!screen)
        return;
    // A window manager keeps a full-screen window the size of its screen; without one, as on a
    // bare X server, nobody else would. Not asked whether the window is full screen: Qt says no
    // once it has been resized, and every later size would go unfollowed.
    const auto fill = [this] {
        if (m_followed && geometry() != m_followed->geometry())
            setGeometry(m_followed->geometry());
    };
    connect(screen, &QScreen::geometryChanged, this, fill);
    fill();
}

} // namespace lock
