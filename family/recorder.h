#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <vector>

namespace lesson {
class SdlSound;
}

namespace family {

// One take of the microphone at a time, from a digit's key or button going down to its release,
// through the sound thread; it tells the parent at each step what is happening. A take always
// ends: at the release, when the window loses the keyboard, after the longest hold, and where the
// microphone does not answer. Nothing here waits on the sound server: it answers through polls.
class Recorder : public QObject
{
    Q_OBJECT
public:
    enum class Hand { Key, Button };

    explicit Recorder(lesson::SdlSound &sound, QObject *parent = nullptr);

    // Whether a take is under way, from its start until the microphone has closed.
    bool busy() const { return m_state != State::Closed; }
    // Begins DIGIT's take, held by HAND; nothing where one is under way.
    void start(int digit, Hand hand);
    // The key or button let go: the take ends.
    void release();
    // DIGIT's key let go as X11 reports it, which may be a repeat's; see pressedAgain.
    void releaseSoon(int digit);
    // DIGIT's key down again: true where it was held all along (the release was a repeat's).
    bool pressedAgain(int digit);
    // Ends the take now, saying WHY before what becomes of it.
    void end(const QString &why);
    // How long a take may be held before it ends by itself.
    void setLongestHold(std::chrono::milliseconds longest) { m_longest.setInterval(longest); }

Q_SIGNALS:
    void said(const QString &text);
    // A take held long enough ended with what the microphone heard; WHY is what ended it where
    // that was not the release, to be said first.
    void heard(int digit, const std::vector<qint16> &samples, const QString &why);

private:
    enum class State { Closed, Opening, Open, Closing };

    void close(qint64 heldMs);
    void listen();
    void noAnswer();
    void tell(const QString &text);

    lesson::SdlSound &m_sound;
    State m_state = State::Closed;
    int m_digit = -1;
    bool m_gaveUp = false; // this take has been given up, and said so
    QString m_why; // what ended the take, where not the release
    QElapsedTimer m_held;
    qint64 m_heldMs = 0;
    QTimer m_poll; // looks at the microphone while a take is under way
    QTimer m_noAnswer; // the microphone takes too long to open, or to close
    QTimer m_release; // ends a take held on the keyboard, unless the key turns out still held
    QTimer m_longest; // ends a take whose release never came
};

} // namespace family
