// Measures, on a real X server with a real sound server, how quickly the program answers, next to
// a bare Qt window doing the least it could; prints a table and one line of name=value figures.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <signal.h>
#include <unistd.h>

namespace {
const QString buildDir = QStringLiteral(NUMERI_BUILD_DIR);

QByteArray run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    p.waitForFinished(120000);
    return p.readAllStandardOutput();
}

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
            + "\nset-default-sink numeri_test\n");
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
    ~SoundServer()
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

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double maximum(const std::vector<double> &v)
{
    return v.empty() ? -1 : *std::max_element(v.begin(), v.end());
}

qint64 peakKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

struct Running
{
    double mapMs = -1;
    QString window;
    qint64 pid = 0;
};

Running start(const QString &program, const QProcessEnvironment &env, const QStringList &args = {})
{
    QProcess watch;
    watch.setProcessEnvironment(env);
    watch.start(buildDir + u"/bench/xwatch", QStringList { QStringLiteral("map"), program } + args);
    watch.waitForFinished(30000);
    const QList<QByteArray> f = watch.readAllStandardOutput().trimmed().split(' ');
    Running r;
    if (f.size() == 4 && f[0] == "mapped") {
        r.mapMs = f[1].toDouble();
        r.window = QString::fromLatin1(f[2]);
        r.pid = f[3].toLongLong();
    }
    return r;
}

void stop(const Running &r)
{
    if (r.pid <= 0)
        return;
    ::kill(pid_t(r.pid), SIGTERM);
    const QDeadlineTimer deadline(5000);
    while (QFile::exists(QStringLiteral("/proc/%1").arg(r.pid)) && !deadline.hasExpired()) {
        // xwatch's child is reparented to init, which reaps it.
        QFile stat(QStringLiteral("/proc/%1/stat").arg(r.pid));
        if (stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z"))
            break;
        QThread::msleep(10);
    }
}

std::vector<double> xwatch(const QProcessEnvironment &env, const QStringList &args)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(buildDir + u"/bench/xwatch", args);
    p.waitForFinished(120000);
    std::vector<double> v;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty() && line != "none")
            v.push_back(line.toDouble());
    return v;
}

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
std::vector<double> keyToSound(const SoundServer &sound, int presses, int pauseMs = 0)
{
    TimedRecorder recorder(sound);
    std::vector<double> latencies;
    if (!recorder.started())
        return latencies;
    Display *d = XOpenDisplay(nullptr);
    if (!d)
        return latencies;
    recorder.read(500);
    for (int i = 0; i < presses; ++i) {
        recorder.read(pauseMs);
        const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(i % 2 ? "7" : "4"));
        const double pressed = recorder.nowMs();
        XTestFakeKeyEvent(d, code, True, CurrentTime);
        XTestFakeKeyEvent(d, code, False, CurrentTime);
        XFlush(d);
        recorder.read(1500);
        const double heard = recorder.firstSoundAfter(pressed);
        if (heard >= 0)
            latencies.push_back(heard - pressed);
    }
    XCloseDisplay(d);
    return latencies;
}

// A family folder as full as it gets: ten phone photos of 4000 x 3000 (about 4 MB each, as a
// phone's are) and ten recordings (the installed words, copied).
void fillFamilyFolder(const QString &data)
{
    const QString folder = data + u"/numeri/IMG";
    QDir().mkpath(folder);
    std::mt19937 random(20261207);
    QImage photo(4000, 3000, QImage::Format_RGB32);
    for (int d = 0; d <= 9; ++d) {
        for (int y = 0; y < photo.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(photo.scanLine(y));
            for (int x = 0; x < photo.width(); ++x) {
                const int grain = int(random() % 24);
                line[x] = qRgb((x / 16 + grain + d * 25) & 255, (y / 12 + grain) & 255,
                    ((x + y) / 20 + grain) & 255);
            }
        }
        photo.save(folder + u'/' + QString::number(d) + u".jpg", "JPEG", 90);
        QFile::copy(buildDir + u"/IMG/" + QString::number(d) + u".wav",
            folder + u'/' + QString::number(d) + u".wav");
    }
}

// The parent's window: key down to the microphone's stream on the server, release to the first
// sound of the playback, and the streams still held once the key is up.
struct Recording
{
    std::vector<double> open, playback;
    int heldAfter = -1;
};

Recording recording(const SoundServer &sound, const QString &numeri, const QProcessEnvironment &env)
{
    Recording out;
    const Running r = start(numeri, env, { QStringLiteral("--registra") });
    Display *d = XOpenDisplay(nullptr);
    if (r.pid <= 0 || !d)
        return out;
    QThread::msleep(1500);
    const auto sourceOutputs = [&sound] {
        return run(QStringLiteral("pactl"),
            { QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("source-outputs") },
            sound.environment())
            .count('\n');
    };
    const KeyCode four = XKeysymToKeycode(d, XStringToKeysym("4"));
    QTemporaryFile word; // 0.6 s of a steady tone, as raw samples
    std::vector<qint16> tone(size_t(22050 * 0.6));
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = qint16(9000 * std::sin(double(i) * 0.085));
    word.open();
    word.write(reinterpret_cast<const char *>(tone.data()), qint64(tone.size() * 2));
    word.flush();
    TimedRecorder recorder(sound);
    recorder.started();
    for (int i = 0; i < 5; ++i) {
        recorder.read(1500);
        const double down = recorder.nowMs();
        XTestFakeKeyEvent(d, four, True, CurrentTime);
        XFlush(d);
        while (sourceOutputs() < 2 && recorder.nowMs() - down < 2000) { } // parec's and ours
        out.open.push_back(recorder.nowMs() - down);
        // A word into the sink, whose monitor is the microphone; then the key is let go.
        run(QStringLiteral("pacat"),
            { QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                QStringLiteral("--channels=1"), QStringLiteral("--rate=22050"),
                QStringLiteral("-d"), QStringLiteral("numeri_test"), word.fileName() },
            sound.environment());
        recorder.read(300);
        const double up = recorder.nowMs();
        XTestFakeKeyEvent(d, four, False, CurrentTime);
        XFlush(d);
        recorder.read(1500);
        const double heard = recorder.firstSoundAfter(up, true);
        if (heard >= 0)
            out.playback.push_back(heard - up);
    }
    out.heldAfter = int(sourceOutputs()) - 1;
    XCloseDisplay(d);
    stop(r);
    return out;
}

QMap<QString, QString> keypressFigures(const QProcessEnvironment &env)
{
    QProcess p;
    QProcessEnvironment e = env;
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(e);
    p.start(buildDir + u"/bench/numeri_keypress", {});
    p.waitForFinished(300000);
    QMap<QString, QString> out;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            out.insert(QString::fromLatin1(line.left(eq)), QString::fromLatin1(line.mid(eq + 1)));
    }
    return out;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    SoundServer sound;
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !sound.start()) {
        std::fprintf(stderr, "bench: no X server or sound server\n");
        return 1;
    }
    QProcessEnvironment env = sound.environment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    // Another build of the program may be measured in its place, against the same floor.
    const QString numeri = qEnvironmentVariable("NUMERI_BENCH_PROGRAM", buildDir + u"/numeri");
    const QString floor = buildDir + u"/bench/numeri_floor";

    QTemporaryDir familyData;
    fillFamilyFolder(familyData.path());
    QProcessEnvironment family = env;
    family.insert(QStringLiteral("XDG_DATA_HOME"), familyData.path());

    // Start-up and memory once shown, the programs taking turns: the lesson, the lesson with a
    // full family folder, and the floor.
    std::vector<double> mapN, mapF, memN, memF, mapP, memP;
    for (int i = 0; i < 7; ++i) {
        for (int which = 0; which < 3; ++which) {
            const Running r = start(which == 2 ? floor : numeri, which == 1 ? family : env);
            QThread::msleep(700);
            (which == 0 ? mapN : which == 1 ? mapP : mapF).push_back(r.mapMs);
            (which == 0 ? memN : which == 1 ? memP : memF).push_back(double(peakKiB(r.pid)) / 1024);
            stop(r);
        }
    }

    // With the family's photos and words: key to screen and peak memory after 1000 digits, and key
    // to sound.
    std::vector<double> screenP, soundsP;
    double hwm1000P = -1;
    {
        const Running r = start(numeri, family);
        QThread::msleep(1500);
        QStringList keys { QStringLiteral("keys"), r.window };
        for (int d = 0; d <= 9; ++d)
            keys << QString::number(d);
        screenP = xwatch(family, keys << QStringLiteral("30"));
        QString typed;
        for (int i = 0; i < 1000; ++i)
            typed += QString::number((i * 7) % 10);
        run(QStringLiteral("xdotool"),
            { QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("3"), typed },
            family);
        QThread::msleep(500);
        hwm1000P = double(peakKiB(r.pid)) / 1024;
        soundsP = keyToSound(sound, 10);
        stop(r);
    }
    const Recording rec = recording(sound, numeri, family);

    // Key to screen, 30 digits; peak memory after 1000 digits; a digit held down.
    std::vector<double> screenN, screenF;
    double hwm1000N = -1, hwm1000F = -1, holdN = -1, holdF = -1;
    QStringList digits;
    for (int d = 0; d <= 9; ++d)
        digits << QString::number(d);
    for (bool ours : { true, false }) {
        const Running r = start(ours ? numeri : floor, env);
        QThread::msleep(1000);
        (ours ? screenN : screenF) = xwatch(env,
            QStringList { QStringLiteral("keys"), r.window } + digits
                + QStringList { QStringLiteral("30") });
        const std::vector<double> hold = xwatch(env,
            { QStringLiteral("hold"), r.window, QStringLiteral("5"), QStringLiteral("30"),
                QStringLiteral("10") });
        (ours ? holdN : holdF) = hold.empty() ? -1 : hold.front();
        QString typed;
        for (int i = 0; i < 1000; ++i)
            typed += QString::number((i * 7) % 10);
        run(QStringLiteral("xdotool"),
            { QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("3"), typed }, env);
        QThread::msleep(500);
        (ours ? hwm1000N : hwm1000F) = double(peakKiB(r.pid)) / 1024;
        stop(r);
    }

    // Key to sound while keys keep coming; what the program and the server spend in the silence
    // after the last word; and key to sound for the first digit after that silence.
    const Running r = start(numeri, env);
    QThread::msleep(1500);
    const std::vector<double> sounds = keyToSound(sound, 10);
    QThread::msleep(15000);
    const int idleStreams = sound.streams();
    const auto ticks = [](qint64 pid) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return -1.0;
        const QList<QByteArray> f = stat.readAll().split(')').value(1).split(' ');
        return (f.value(12).toDouble() + f.value(13).toDouble()) / double(sysconf(_SC_CLK_TCK));
    };
    const double idleN = ticks(r.pid), idleS = ticks(sound.pid());
    QThread::msleep(10000);
    const double idleCpuN = (ticks(r.pid) - idleN) * 10,
                 idleCpuS = (ticks(sound.pid()) - idleS) * 10;
    const std::vector<double> afterSilence
        = keyToSound(sound, 3, 4000); // each after the device closed
    stop(r);

    // The key handler's own cost, with the sound server working, missing and hung.
    const QMap<QString, QString> k = keypressFigures(env);
    QProcessEnvironment silent = env;
    silent.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/numeri-bench"));
    const QMap<QString, QString> ks = keypressFigures(silent);
    ::kill(pid_t(sound.pid()), SIGSTOP);
    const QMap<QString, QString> kh = keypressFigures(env);
    ::kill(pid_t(sound.pid()), SIGCONT);

    const double startN = median(mapN), startF = median(mapF);
    const double memShownN = median(memN), memShownF = median(memF);
    std::printf("%-44s %12s %12s %10s   %s\n", "measure", "numeri", "floor", "ratio", "target");
    const auto row = [](const char *name, double n, double f, const char *target) {
        if (f > 0)
            std::printf("%-44s %12.2f %12.2f %10.2f   %s\n", name, n, f, n / f, target);
        else
            std::printf("%-44s %12.2f %12s %10s   %s\n", name, n, "", "", target);
    };
    row("start-up to first map, median of 7 (ms)", startN, startF, "<= 1.05x floor");
    row("peak memory once shown (MiB)", memShownN, memShownF, "<= floor + 10 MiB");
    row("peak memory after 1000 digits (MiB)", hwm1000N, hwm1000F, "<= floor + 10 MiB");
    row("key to screen, median of 30 (ms)", median(screenN), median(screenF), "<= 2x floor");
    row("key to screen, max of 30 (ms)", maximum(screenN), maximum(screenF), "< 16.7");
    row("held 10 s at 30/s: release to last drawing (ms)", holdN, holdF, "< 16.7");
    row("key to sound, median of 10 (ms)", median(sounds), -1, "< 40");
    row("key to sound, max of 10 (ms)", maximum(sounds), -1, "");
    // The key handler's figures, as numeri_keypress printed them.
    const auto keypress = [&row](const char *name, const QMap<QString, QString> &figures,
                              const char *key, const char *medianTarget, const char *p99Target) {
        const QString base = QString::fromLatin1(key);
        row(qPrintable(QString::fromLatin1(name) + u", median (ms)"),
            figures.value(base + u"_median_ms").toDouble(), -1, medianTarget);
        row(qPrintable(QString::fromLatin1(name) + u", p99 (ms)"),
            figures.value(base + u"_p99_ms").toDouble(), -1, p99Target);
    };
    keypress("Text1_KeyPress digit", k, "keypress_digit", "< 2", "< 8");
    keypress("Text1_KeyPress same digit", k, "keypress_repeat", "", "");
    keypress("Text1_KeyPress other key to box open", k, "keypress_other_to_box", "", "");
    keypress("digit with no sound server", ks, "keypress_digit", "< 2", "< 8");
    keypress("digit with the server hung", kh, "keypress_digit", "< 2", "< 8");
    row("15 s after the last word: streams held", idleStreams, -1, "0");
    row("15 s after: program CPU, % of a core", idleCpuN, -1, "< 0.1");
    row("15 s after: server CPU, % of a core", idleCpuS, -1, "");
    row("first digit after silence, median of 3 (ms)", median(afterSilence), -1, "< 80");
    std::printf("with a full family folder (ten 4000 x 3000 photos, ten words):\n");
    row("start-up to first map, median of 7 (ms)", median(mapP), startF, "<= 1.05x floor");
    row("peak memory once shown (MiB)", median(memP), memShownF, "<= floor + 10 MiB");
    row("peak memory after 1000 digits (MiB)", hwm1000P, hwm1000F, "<= floor + 10 MiB");
    row("key to screen, median of 30 (ms)", median(screenP), median(screenN),
        "< 16.7, <= 2x the installed pictures'");
    row("key to screen, max of 30 (ms)", maximum(screenP), -1, "");
    row("key to sound, median of 10 (ms)", median(soundsP), -1, "< 40");
    std::printf("the parent's window (numeri --registra), 5 words held:\n");
    row("key down to the microphone recording, median (ms)", median(rec.open), -1, "< 50");
    row("key down to the microphone recording, max (ms)", maximum(rec.open), -1, "");
    row("release to the playback heard, median (ms)", median(rec.playback), -1, "< 200");
    row("release to the playback heard, max (ms)", maximum(rec.playback), -1, "");
    row("microphone streams held once the keys are up", rec.heldAfter, -1, "0");

    std::printf(
        "startup_ms=%.2f floor_startup_ms=%.2f startup_ratio=%.2f peak_mib=%.1f "
        "floor_peak_mib=%.1f "
        "peak_1000_mib=%.1f floor_peak_1000_mib=%.1f key_screen_median_ms=%.2f "
        "key_screen_max_ms=%.2f "
        "floor_key_screen_median_ms=%.2f hold_settle_ms=%.2f key_sound_median_ms=%.2f "
        "keypress_digit_median_ms=%s keypress_digit_p99_ms=%s keypress_repeat_median_ms=%s "
        "keypress_other_to_box_median_ms=%s nosound_digit_p99_ms=%s hung_digit_p99_ms=%s "
        "idle_streams=%d idle_cpu_percent=%.2f idle_server_cpu_percent=%.2f "
        "key_sound_after_silence_ms=%.2f family_startup_ratio=%.2f family_peak_1000_mib=%.1f "
        "family_key_screen_median_ms=%.2f family_key_sound_median_ms=%.2f "
        "record_open_median_ms=%.2f record_playback_median_ms=%.2f record_streams_after=%d\n",
        startN, startF, startN / startF, memShownN, memShownF, hwm1000N, hwm1000F, median(screenN),
        maximum(screenN), median(screenF), holdN, median(sounds),
        qPrintable(k.value(QStringLiteral("keypress_digit_median_ms"))),
        qPrintable(k.value(QStringLiteral("keypress_digit_p99_ms"))),
        qPrintable(k.value(QStringLiteral("keypress_repeat_median_ms"))),
        qPrintable(k.value(QStringLiteral("keypress_other_to_box_median_ms"))),
        qPrintable(ks.value(QStringLiteral("keypress_digit_p99_ms"))),
        qPrintable(kh.value(QStringLiteral("keypress_digit_p99_ms"))), idleStreams, idleCpuN,
        idleCpuS, median(afterSilence), median(mapP) / startF, hwm1000P, median(screenP),
        median(soundsP), median(rec.open), median(rec.playback), rec.heldAfter);
    return 0;
}
