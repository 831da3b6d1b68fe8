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
    if (type == QEvent::ApplicationStateChange || type == QEvent::WindowDeactivate) {
        // Keys let go while another window had them are never heard of: forgotten, lest Esc
        // never count again.
        m_othersDown.clear();
        return false;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Escape) {
        // Keys without a scan code (made up by an input method or a test) are told by their code.
        const quint64 which = key->nativeScanCode() ? key->nativeScanCode()
                                                    : (quint64(1) << 32 | quint32(key->key()));
        if (type == QEvent::KeyPress) {
            m_othersDown.insert(which);
            if (m_state == State::Holding) {
                m_state = State::Palm;
                stopTicks();
            }
        } else if (!key->isAutoRepeat()) {
            m_othersDown.remove(which);
        }
        return false;
    }
    if (type == QEvent::KeyRelease) {
        if (m_state == State::Idle)
            return false;
        m_letGo.start();
        return true;
    }
    if (m_state == State::Holding && m_inBox && watched != m_catcher) {
        // The press that began the hold, on its way from the box's button up to the box.
        return false;
    }
    if (m_state != State::Idle) {
        // The key is still down: a repeat, which no box may take for a press.
        m_letGo.stop();
        return true;
    }
    if (key->isAutoRepeat())
        return true;
    // The window is told of a key before its widget: the widget's turn decides.
    if (!watched->isWidgetType())
        return false;
    if (!m_othersDown.isEmpty()) {
        // Nothing at all, in a box as in the lesson, until it is let go.
        m_state = State::Palm;
        return true;
    }
    // Esc in a box is the box's: it closes it, as Enter does, and the hold counts from there.
    m_inBox = watched != m_catcher;
    if (m_inBox && !m_catcher->window()->isAncestorOf(static_cast<QWidget *>(watched)))
        return false;
    m_state = State::Holding;
    m_since.start();
    m_ticks.start();
    tick();
    return !m_inBox;
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
    // Let go in a box, the box has had its Esc: it is no key for the lesson too.
    const bool tap = m_state == State::Holding && !m_inBox;
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
