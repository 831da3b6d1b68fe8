#pragma once
// What the end-to-end test drives besides the program: commands, and a sound server of its own.

#include "testkit.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <csignal>
#include <utility>

namespace testkit {

inline QStringList words(const char *line)
{
    return QString::fromUtf8(line).split(u' ');
}

// Runs a command, its words as given; returns what it printed.
inline QByteArray run(
    QStringList words, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(words.takeFirst(), words);
    p.waitForFinished(60000);
    return p.readAllStandardOutput();
}

// The window whose title matches TITLE (a regular expression) once it shows; 0 where none does
// within run()'s minute, as a start-up on a machine with other work may take a few seconds.
inline unsigned long windowShows(
    const QString &title, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    const QByteArray found = run(words("xdotool search --sync --onlyvisible --name") << title, env);
    return found.split('\n').constFirst().toULong();
}

// A process ended with the test that started it, whatever happens: asked first, so that an X
// server takes its socket away.
class Ended : public QProcess
{
public:
    ~Ended() override
    {
        terminate();
        if (!waitForFinished(3000))
            kill();
        waitForFinished();
    }
};

// The program as built; what it said on standard error is shown where the test failed.
class Numeri : public Ended
{
public:
    // AS: a command that runs it as another user; PROGRAM: the program as installed.
    explicit Numeri(const QProcessEnvironment &env, const QStringList &arguments = {},
        const QStringList &as = {},
        const QString &program = QStringLiteral(NUMERI_BUILD_DIR "/numeri"))
    {
        setProcessEnvironment(env);
        QStringList command = as + QStringList { program } + arguments;
        const QString first = command.takeFirst();
        start(first, command);
    }
    ~Numeri() override
    {
        if (QTest::currentTestFailed())
            qWarning("numeri said: %s", said().constData());
    }
    const QByteArray &said() { return m_said += readAllStandardError(); }
    // Whether it says WORDS on standard error within 10 s.
    bool says(const char *words)
    {
        return QTest::qWaitFor([&] { return said().contains(words); }, 10000);
    }
    // Whether it ends within 10 s, or has ended, with status 0.
    bool endsWell(bool asked = true)
    {
        if (asked)
            terminate();
        return (state() == NotRunning || waitForFinished(10000)) && exitStatus() == NormalExit
            && exitCode() == 0;
    }

private:
    QByteArray m_said;
};

// A PulseAudio daemon with a null sink alone, whose monitor is recorded from the start and is the
// microphone too.
class SoundServer
{
public:
    SoundServer()
    {
        m_env.insert(
            QStringLiteral("PULSE_SERVER"), u"unix:" + m_dir.filePath(QStringLiteral("native")));
        m_env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_dir.filePath(QStringLiteral("run")));
        m_env.insert(QStringLiteral("HOME"), m_dir.path());
        m_env.remove(QStringLiteral("SDL_AUDIODRIVER"));
        m_daemon.setProcessEnvironment(m_env);
        m_parec.setProcessEnvironment(m_env);
    }
    ~SoundServer() { kill(); }
    const QProcessEnvironment &env() const { return m_env; }
    bool start()
    {
        const QString config = m_dir.filePath(QStringLiteral("server.pa"));
        if (!write(config,
                "load-module module-null-sink sink_name=ear rate=22050 channels=1\n"
                "load-module module-native-protocol-unix auth-anonymous=1 socket="
                    + m_env.value(QStringLiteral("PULSE_SERVER")).mid(5).toUtf8()
                    // The microphone hears what plays, as a source of its own: SDL 3 takes no
                    // monitor for a microphone, and a real one is none.
                    + "\nload-module module-remap-source source_name=microphone "
                      "master=ear.monitor\n"
                      "set-default-sink ear\nset-default-source microphone\n"))
            return false;
        QFile::remove(m_dir.filePath(QStringLiteral("native")));
        m_daemon.start(QStringLiteral("pulseaudio"),
            { QStringLiteral("-nF"), config, QStringLiteral("--exit-idle-time=-1"),
                QStringLiteral("--daemonize=no"), QStringLiteral("--use-pid-file=no") });
        for (int i = 0; i < 200 && !run(words("pactl info"), m_env).contains("ear"); ++i)
            QTest::qWait(50);
        m_parec.start(QStringLiteral("parec"),
            words(
                "-d ear.monitor --raw --format=s16le --channels=1 --rate=22050 --latency-msec=10"));
        return m_parec.waitForReadyRead(10000);
    }
    void kill()
    {
        for (QProcess *p : { &m_parec, &m_daemon }) {
            p->kill();
            p->waitForFinished();
        }
    }
    void signal(int number) const
    {
        if (m_daemon.state() == QProcess::Running) // not 0: that would stop this very test
            ::kill(pid_t(m_daemon.processId()), number);
    }
    int streams() const
    {
        return int(run(words("pactl list short sink-inputs"), m_env).count('\n'));
    }
    // The seconds from the first to the last sound heard in the next `ms`, or since forget() where
    // it was called last; once a sound has ended (0.3 s of quiet after it) nothing more is awaited,
    // unless the whole time must be listened to.
    enum Listening { UntilQuiet, Throughout };
    void forget()
    {
        m_parec.readAll();
        m_forgotten = true;
    }
    double heard(int ms, Listening listening = UntilQuiet)
    {
        if (!std::exchange(m_forgotten, false))
            m_parec.readAll();
        QByteArray bytes;
        QElapsedTimer clock;
        for (clock.start(); clock.elapsed() < ms;) {
            m_parec.waitForReadyRead(50);
            bytes += m_parec.readAll();
            const Span sound = span(bytes);
            if (listening == UntilQuiet && sound.first >= 0
                && double(bytes.size() / 2) / 22050 - sound.last > 0.3)
                break;
        }
        const Span sound = span(bytes);
        return sound.first < 0 ? 0 : sound.last - sound.first;
    }
    // Where sound begins and ends, in seconds from the start; -1 where there is none.
    struct Span
    {
        double first = -1, last = -1;
    };
    static Span span(const QByteArray &bytes)
    {
        constexpr int window = 220; // 10 ms
        const auto *samples = reinterpret_cast<const qint16 *>(bytes.constData());
        Span sound;
        for (qsizetype at = 0; at + window <= bytes.size() / 2; at += window) {
            double sum = 0;
            for (qsizetype i = at; i < at + window; ++i)
                sum += double(samples[i]) * samples[i];
            if (std::sqrt(sum / window) > 0.01 * 32768) {
                sound.last = double(at + window) / 22050;
                sound.first = sound.first < 0 ? double(at) / 22050 : sound.first;
            }
        }
        return sound;
    }

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    QProcess m_daemon;
    QProcess m_parec;
    bool m_forgotten = false;
};

} // namespace testkit
