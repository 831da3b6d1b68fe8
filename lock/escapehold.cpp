#include "lock/escapehold.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

namespace lock {

EscapeHold::EscapeHold(QWidget *catcher, QObject *parent)
    : QObject(parent)
    , m_catcher(catcher)
{
    // Often enough that the seconds shown change within a frame or two of the real ones.
    m_ticks.setInterval(50);
    connect(&m_ticks, &QTimer::timeout, this, &EscapeHold::tick);
    // Longer than the gap between a repeat's release and press, which X sends together, and far
    // shorter than a child waits for the box.
    m_letGo.setInterval(100);
    m_letGo.setSingleShot(true);
    connect(&m_letGo, &QTimer::timeout, this, &EscapeHold::letGo);
    QCoreApplication::instance()->installEventFilter(this);
}

bool EscapeHold::eventFilter(QObject *watched, QEvent *event)
{
    const auto type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return false;
    if (static_cast<QKeyEvent *>(event)->key() != Qt::Key_Escape)
        return false;
    if (type == QEvent::KeyRelease) {
        if (m_state == State::Idle)
            return false;
        m_letGo.start();
        return true;
    }
    if (m_state != State::Idle) {
        // The key is still down: a repeat, which no box may take for a press.
        m_letGo.stop();
        return true;
    }
    if (static_cast<QKeyEvent *>(event)->isAutoRepeat())
        return true;
    // Esc in a box is the box's: it closes it, as Enter does.
    if (watched != m_catcher)
        return false;
    m_state = State::Holding;
    m_since.start();
    m_ticks.start();
    tick();
    return true;
}

void EscapeHold::tick()
{
    const auto left = holdFor - std::chrono::milliseconds(m_since.elapsed());
    if (left <= std::chrono::milliseconds(0)) {
        m_state = State::Held;
        stopTicks();
        Q_EMIT held();
        return;
    }
    const int seconds = int((left.count() + 999) / 1000);
    if (seconds != m_shown) {
        m_shown = seconds;
        Q_EMIT secondsLeft(seconds);
    }
}

void EscapeHold::letGo()
{
    const bool tap = m_state == State::Holding;
    m_state = State::Idle;
    stopTicks();
    if (tap)
        Q_EMIT tapped();
}

void EscapeHold::stopTicks()
{
    m_ticks.stop();
    m_shown = 0;
    Q_EMIT secondsLeft(0);
}

} // namespace lock
