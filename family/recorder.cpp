#include "family/recorder.h"

#include "family/italian.h"
#include "lesson/sound.h"

namespace family {

namespace {
using namespace std::chrono_literals;

const char *const words[]
    = { "zero", "uno", "due", "tre", "quattro", "cinque", "sei", "sette", "otto", "nove" };
// Shorter than any number's name.
constexpr qint64 shortestPress = 300;
// How long the microphone may take to open before the parent is told. Closing may take longer
// on a sound server, and what it heard comes before it has closed; this much more is a hang.
constexpr auto openingPatience = 1s;
constexpr auto closingPatience = 5s;
// X11 repeats a held key as a release and a press sent together, and Qt, which tells such a pair
// from a real release only when both have reached it, sometimes passes it on as real. A press
// coming this soon after a release is that pair: the key never left.
constexpr auto repeatPair = 50ms;
// Far longer than any word, so that a key whose release went elsewhere does not record for good.
constexpr auto longestHold = 10s;
const QString nothingChanged = QStringLiteral(" Non è cambiato niente.");
} // namespace

Recorder::Recorder(lesson::SdlSound &sound, QObject *parent)
    : QObject(parent)
    , m_sound(sound)
{
    m_poll.setInterval(10ms);
    connect(&m_poll, &QTimer::timeout, this, &Recorder::listen);
    m_noAnswer.setSingleShot(true);
    connect(&m_noAnswer, &QTimer::timeout, this, &Recorder::noAnswer);
    m_release.setSingleShot(true);
    m_release.setInterval(repeatPair);
    connect(&m_release, &QTimer::timeout, this, [this] { close(m_heldMs); });
    m_longest.setSingleShot(true);
    m_longest.setInterval(longestHold);
    connect(&m_longest, &QTimer::timeout, this, [this] {
        end(QStringLiteral("Il tasto è rimasto premuto a lungo, così ho smesso di registrare."));
    });
}

void Recorder::start(int digit, Hand hand)
{
    // One take at a time; what was said of the last one stands until it has closed.
    if (busy())
        return;
    m_digit = digit;
    m_gaveUp = false;
    m_why.clear();
    m_state = State::Opening;
    m_held.start();
    m_sound.listen(true);
    m_poll.start();
    m_noAnswer.start(openingPatience);
    m_longest.start();
    tell(QStringLiteral("Registro %1: di' «%2», poi lascia %3.")
             .arg(theDigit(digit), QLatin1String(words[digit]),
                 hand == Hand::Key ? QStringLiteral("il tasto") : QStringLiteral("il pulsante")));
}

void Recorder::release()
{
    close(m_held.elapsed());
}

void Recorder::releaseSoon(int digit)
{
    if (digit != m_digit)
        return;
    m_heldMs = m_held.elapsed();
    m_release.start();
}

bool Recorder::pressedAgain(int digit)
{
    if (digit != m_digit || !m_release.isActive())
        return false;
    m_release.stop();
    return true;
}

void Recorder::end(const QString &why)
{
    if (m_state != State::Opening && m_state != State::Open)
        return;
    m_why = why;
    release();
}

void Recorder::close(qint64 heldMs)
{
    if (m_state != State::Opening && m_state != State::Open)
        return;
    m_release.stop();
    m_longest.stop();
    m_sound.listen(false);
    // A microphone still opening keeps its own patience.
    if (std::exchange(m_state, State::Closing) == State::Open || !m_noAnswer.isActive())
        m_noAnswer.start(closingPatience);
    if (m_gaveUp)
        return;
    // Said at once: the answer to a short press does not wait on the microphone.
    if (heldMs < shortestPress) {
        m_gaveUp = true;
        tell(QStringLiteral("Troppo breve: tieni premuto mentre dici la parola.") + nothingChanged);
    } else {
        tell(QStringLiteral("Ascolto la parola…"));
    }
}

void Recorder::listen()
{
    for (lesson::Take &take : m_sound.microphone()) {
        if (take.state == lesson::Take::Open) {
            if (m_state == State::Opening)
                m_state = State::Open;
            else if (m_state == State::Closing)
                m_noAnswer.start(closingPatience);
            if (m_state == State::Open)
                m_noAnswer.stop();
        } else if (take.state == lesson::Take::Failed) {
            if (m_state != State::Closing)
                m_noAnswer.stop();
            if (!m_gaveUp)
                tell(
                    QStringLiteral("Non riesco ad aprire il microfono: controlla che sia collegato "
                                   "e che l'audio del computer funzioni, poi riprova.")
                    + nothingChanged);
            m_gaveUp = true;
        } else if (m_state == State::Closing) {
            m_poll.stop();
            m_noAnswer.stop();
            m_state = State::Closed;
            if (!m_gaveUp)
                Q_EMIT heard(m_digit, take.samples, m_why);
        }
    }
}

void Recorder::noAnswer()
{
    if (!m_gaveUp)
        tell(QStringLiteral("Il microfono non risponde: controlla l'audio del computer e riprova.")
            + nothingChanged);
    m_gaveUp = true;
    // The parent is told to try again, and may at once: neither a microphone that never opens,
    // while the key is still held, nor one that never closes keeps them from the next take.
    if (m_state == State::Opening) {
        m_release.stop();
        m_longest.stop();
        m_sound.listen(false);
    }
    m_poll.stop();
    m_state = State::Closed;
}

void Recorder::tell(const QString &text)
{
    Q_EMIT said(m_why.isEmpty() ? text : m_why + u' ' + text);
}

} // namespace family
