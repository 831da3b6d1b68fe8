#include "bench/harness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QTemporaryFile>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <cmath>
#include <random>
#include <signal.h>
#include <unistd.h>

namespace bench {

QByteArray run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    p.waitForFinished(120000);
    return p.readAllStandardOutput();
}

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

double peakMiBAfterThousandDigits(qint64 pid, const QProcessEnvironment &env)
{
    QString typed;
    for (int i = 0; i < 1000; ++i)
        typed += QString::number((i * 7) % 10);
    run(QStringLiteral("xdotool"),
        { QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("3"), typed }, env);
    QThread::msleep(500);
    return double(peakKiB(pid)) / 1024;
}

Running start(const QString &program, const QProcessEnvironment &env, const QStringList &args)
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

std::vector<double> xwatch(const QProcessEnvironment &env, const QStringList &args,
    std::vector<double> *pixels, std::vector<double> *settled)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(buildDir + u"/bench/xwatch", args);
    p.waitForFinished(120000);
    std::vector<double> v;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        if (line.isEmpty() || line == "none")
            continue;
        v.push_back(line.split(' ').value(0).toDouble());
        if (pixels)
            pixels->push_back(line.split(' ').value(1).toDouble());
        if (settled)
            settled->push_back(line.split(' ').value(2).toDouble());
    }
    return v;
}

std::vector<double> keyToSound(const SoundServer &sound, int presses, int pauseMs)
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
    if (!word.open()
        || word.write(reinterpret_cast<const char *>(tone.data()), qint64(tone.size() * 2)) < 0
        || !word.flush())
        return out;
    TimedRecorder recorder(sound);
    recorder.started();
    for (int i = 0; i < 5; ++i) {
        recorder.read(1500);
        const double down = recorder.nowMs();
        XTestFakeKeyEvent(d, four, True, CurrentTime);
        XFlush(d);
        // parec's, the microphone's link to what plays, and ours
        while (sourceOutputs() < 3 && recorder.nowMs() - down < 2000) { }
        out.open.push_back(recorder.nowMs() - down);
        // A word into the sink, which the microphone hears; then the key is let go.
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
    out.heldAfter = int(sourceOutputs()) - 2; // all but parec and the microphone's link
    XCloseDisplay(d);
    stop(r);
    return out;
}

QMap<QString, QString> keypressFigures(const QProcessEnvironment &env)
{
    return inProcessFigures(QStringLiteral("numeri_keypress"), env);
}

QMap<QString, QString> inProcessFigures(const QString &program, const QProcessEnvironment &env)
{
    QProcess p;
    QProcessEnvironment e = env;
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(e);
    p.start(buildDir + u"/bench/" + program, {});
    p.waitForFinished(300000);
    QMap<QString, QString> out;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            out.insert(QString::fromLatin1(line.left(eq)), QString::fromLatin1(line.mid(eq + 1)));
    }
    return out;
}

XServer::XServer(const QString &size)
{
    m_server.start(QStringLiteral("Xvfb"),
        { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
            QStringLiteral("0"), size + u"x24", QStringLiteral("-nolisten"),
            QStringLiteral("tcp") });
    if (m_server.waitForReadyRead(10000))
        m_display = u':' + QString::fromLatin1(m_server.readLine().trimmed());
}

XServer::~XServer()
{
    m_server.terminate();
    m_server.waitForFinished();
}

} // namespace bench
