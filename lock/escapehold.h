#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <chrono>

class QWidget;

namespace lock {

// Esc as the locked lesson knows it: held for a while it is the parent's way out; let go sooner
// it is a child's key like any other. It watches every key of the program, since while Esc is
// held its repeats must not close the box that the hold has just opened. X sends a held key's
// repeats as a release and a press, and Qt tells them from a real release only when both have
// already arrived: so a release counts once no press has followed it for a while. The hold counts
// only while Esc is the one key down: a palm resting on the keyboard holds Esc among others.
class EscapeHold : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds holdFor { 3000 };

    // Esc pressed in CATCHER starts the hold; catcher is the window's key catcher.
    explicit EscapeHold(QWidget *catcher, QObject *parent = nullptr);

Q_SIGNALS:
    // Esc was let go before the hold was through: a key for the lesson.
    void tapped();
    // Esc was held long enough.
    void held();
    // While Esc is held: whole seconds left, counted up, or 0 once the hold is over or let go.
    void secondsLeft(int seconds);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Palm: Esc went down, or stayed down, with another key; it counts for nothing till let go.
    enum class State { Idle, Holding, Held, Palm };
    void tick();
    void letGo();
    void stopTicks();

    QWidget *m_catcher;
    State m_state = State::Idle;
    bool m_inBox = false; // the hold began in an open box, which that press closed
    QSet<quint64> m_othersDown; // the keys other than Esc held down now
    QElapsedTimer m_since;
    QTimer m_ticks;
    QTimer m_letGo;
    int m_shown = 0;
};

} // namespace lock
