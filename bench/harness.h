// The benchmark's harness: a sound server of its own, the program started and stopped under
// xwatch, the sink's monitor recorded against the clock, and the measures built on them.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <vector>

namespace bench {

inline const QString buildDir = QStringLiteral(NUMERI_BUILD_DIR);

QByteArray run(
    const QString &program, const QStringList &arguments, const QProcessEnvironment &env);

// A PulseAudio daemon of the benchmark's own, with a null sink whose monitor can be recorded.
class SoundServer
{
public:
    bool start()
    {
        m_env.insert(
            QStringLiteral("PULSE_SERVER"), u"unix:" + m_dir.filePath(QStringLiteral("native")));
        m_env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_dir.filePath(QStringLiteral("run")));
        m_env.insert(QStringLiteral("HOME"), m_dir.path());
        m_env.remove(QStringLiteral("SDL_AUDIODRIVER"));
        QFile config(m_dir.filePath(QStringLiteral("server.pa")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("load-module module-null-sink sink_name=numeri_test rate=22050 channels=1\n"
                     "load-module module-native-protocol-unix auth-anonymous=1 socket="
            + m_dir.filePath(QStringLiteral("native")).toUtf8()
            // The microphone hears what plays, as a source of its own: SDL 3 takes no monitor
            // for a microphone.
            + "\nload-module module-remap-source source_name=microphone "
              "master=numeri_test.monitor\nset-default-sink numeri_test\n"
              "set-default-source microphone\n");
        config.close();
        m_daemon.setProcessEnvironment(m_env);
        m_daemon.start(QStringLiteral("pulseaudio"),
            { QStringLiteral("-n"), QStringLiteral("-F"), config.fileName(),
                QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--daemonize=no"),
                QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-level=error") });
        for (int i = 0; i < 200; ++i) {
            if (run(QStringLiteral("pactl"), { QStringLiteral("info") }, m_env)
                    .contains("numeri_test"))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    ~SoundServer() { kill(); }
    // As a crash or an update ends it; start() brings it back at the same address.
    void kill()
    {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
    const QProcessEnvironment &environment() const { return m_env; }
    qint64 pid() const { return m_daemon.processId(); }
    int streams() const
    {
        return int(run(QStringLiteral("pactl"),
            { QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs") },
            m_env)
                       .count('\n'));
    }

private:
    QTemporaryDir m_dir;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    QProcess m_daemon;
};

double median(std::vector<double> v);
double maximum(const std::vector<double> &v);
qint64 peakKiB(qint64 pid);
// Types 1000 digits into the focused window, as a long lesson does, and returns PID's peak memory
// once the last has been handled, in MiB.
double peakMiBAfterThousandDigits(qint64 pid, const QProcessEnvironment &env);

struct Running
{
    double mapMs = -1;
    QString window;
    qint64 pid = 0;
};

Running start(const QString &program, const QProcessEnvironment &env, const QStringList &args = {});
void stop(const Running &r);
// xwatch's figures; for "keys", PIXELS gets the drawn area of each press, SETTLED the ms to its
// last drawing.
std::vector<double> xwatch(const QProcessEnvironment &env, const QStringList &args,
    std::vector<double> *pixels = nullptr, std::vector<double> *settled = nullptr);

// An X server of its own, with one screen of SIZE ("1920x1080"), for as long as it lives.
class XServer
{
public:
    explicit XServer(const QString &size);
    ~XServer();
    QString display() const { return m_display; } // empty where it did not start

private:
    QProcess m_server;
    QString m_display;
};

// Records the sink's monitor and knows, for each sample, the moment it was played.
class TimedRecorder
{
public:
    explicit TimedRecorder(const SoundServer &sound)
    {
        m_parec.setProcessEnvironment(sound.environment());
        m_parec.start(QStringLiteral("parec"),
            { QStringLiteral("--device=numeri_test.monitor"), QStringLiteral("--raw"),
                QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                QStringLiteral("--rate=22050"), QStringLiteral("--latency-msec=5") });
        m_clock.start();
    }
    // Reads for `ms`; keeps samples and the earliest clock anchor seen.
    void read(int ms)
    {
        const QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            if (!m_parec.waitForReadyRead(2))
                continue;
            const QByteArray b = m_parec.readAll();
            const size_t before = m_samples.size();
            m_samples.resize(before + size_t(b.size() / 2));
            memcpy(m_samples.data() + before, b.constData(), size_t(b.size() / 2) * 2);
            // The last sample just arrived was played no later than now.
            const double start = m_clock.nsecsElapsed() / 1e6 - m_samples.size() * 1000.0 / 22050;
            m_anchor = std::min(m_anchor, start);
        }
    }
    double nowMs() const { return m_clock.nsecsElapsed() / 1e6; }
    // The first moment after `fromMs` at which a 10 ms window is not silent; with `onset`, the
    // first that follows a silent one, so that a sound still dying away at `fromMs` is not taken.
    double firstSoundAfter(double fromMs, bool onset = false) const
    {
        const size_t window = 220;
        bool quiet = !onset;
        for (size_t at = size_t(std::max(0.0, (fromMs - m_anchor) * 22.05));
             at + window <= m_samples.size(); at += 22) {
            double sum = 0;
            for (size_t i = at; i < at + window; ++i)
                sum += double(m_samples[i]) * m_samples[i];
            const bool loud = std::sqrt(sum / window) > 0.01 * 32768;
            if (loud && quiet)
                return m_anchor + at / 22.05;
            quiet = quiet || !loud;
        }
        return -1;
    }
    bool started() { return m_parec.waitForReadyRead(10000); }

private:
    QProcess m_parec;
    QElapsedTimer m_clock;
    std::vector<qint16> m_samples;
    double m_anchor = 1e18;
};

// Key to sound for `presses` digits, `pauseMs` apart.
std::vector<double> keyToSound(const SoundServer &sound, int presses, int pauseMs = 0);

// A family folder as full as it gets: ten phone photos of 4000 x 3000 (about 4 MB each, as a
// phone's are) and ten recordings (the installed words, copied).
void fillFamilyFolder(const QString &data);

// The parent's window: key down to the microphone's stream on the server, release to the first
// sound of the playback, and the streams still held once the key is up.
struct Recording
{
    std::vector<double> open, playback;
    int heldAfter = -1;
};

Recording recording(
    const SoundServer &sound, const QString &numeri, const QProcessEnvironment &env);

QMap<QString, QString> keypressFigures(const QProcessEnvironment &env);
// The name=value lines that the in-process measure PROGRAM (in bench/) prints, on the offscreen
// platform.
QMap<QString, QString> inProcessFigures(const QString &program, const QProcessEnvironment &env);

} // namespace bench
