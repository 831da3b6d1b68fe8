#include "testkit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <SDL.h>
#include <cmath>
#include <csignal>
#include <sys/stat.h>

namespace testkit {

QString builtMedia()
{
    return QStringLiteral(NUMERI_MEDIA_DIR);
}

void copyMedia(const QString &folder)
{
    QDir().mkpath(folder + u"/IMG");
    const QDir media(builtMedia());
    for (const QString &name : media.entryList(QDir::Files))
        QFile::copy(media.filePath(name), folder + u"/IMG/" + name);
}

bool placeBadFile(const QString &file, const QString &kind, const QByteArray &content)
{
    QFile::remove(file);
    if (kind == u"file") {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
    }
    if (kind == u"folder")
        return QDir().mkpath(file);
    if (kind == u"loop") {
        const QString other = QFileInfo(file).path() + u"/other-" + QFileInfo(file).fileName();
        return QFile::link(other, file) && QFile::link(file, other);
    }
    if (kind == u"fifo")
        return mkfifo(QFile::encodeName(file).constData(), 0600) == 0;
    return kind == u"missing";
}

BoxCloser::BoxCloser(std::function<void()> onSeen)
    : m_box(std::make_shared<SeenBox>())
    , m_poll(std::make_unique<QTimer>())
{
    auto box = m_box;
    QTimer *poll = m_poll.get();
    QObject::connect(poll, &QTimer::timeout, poll, [box, poll, onSeen] {
        auto *open = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!open || !open->isVisible())
            return;
        if (onSeen)
            onSeen();
        box->title = open->windowTitle();
        box->text = open->text();
        box->icon = open->icon();
        box->buttons = open->standardButtons();
        box->seen = true;
        poll->stop();
        // The OK button, clicked the way a child would.
        if (auto *ok = open->button(QMessageBox::Ok))
            QTest::mouseClick(ok, Qt::LeftButton);
        else
            open->reject();
    });
    poll->start(0);
}

BoxCloser::~BoxCloser() = default;

// ---- End to end -----------------------------------------------------------------------------

QByteArray run(const QString &program, const QStringList &arguments,
    const QProcessEnvironment &environment, int timeoutMs)
{
    QProcess p;
    p.setProcessEnvironment(environment);
    p.start(program, arguments);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        qWarning("%s did not finish", qUtf8Printable(program));
        return {};
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qWarning("%s %s: exit %d: %s", qUtf8Printable(program),
            qUtf8Printable(arguments.join(u' ')), p.exitCode(),
            p.readAllStandardError().constData());
    return p.readAllStandardOutput();
}

namespace {
void stopProcess(QProcess &p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}
} // namespace

Desktop::Desktop(bool windowManager)
{
    // A free display: no socket and no lock file for it.
    int n = 90 + int(QCoreApplication::applicationPid() % 400);
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))
        || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
        ++n;
    m_display = QStringLiteral(":%1").arg(n);
    m_xvfb.start(QStringLiteral("Xvfb"),
        { m_display, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("800x700x24"),
            QStringLiteral("-dpi"), QStringLiteral("96"), QStringLiteral("-nolisten"),
            QStringLiteral("tcp"), QStringLiteral("-noreset") });
    const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
    const QDeadlineTimer deadline(10000);
    while (
        !QFile::exists(socket) && !deadline.hasExpired() && m_xvfb.state() != QProcess::NotRunning)
        QThread::msleep(20);
    m_ok = QFile::exists(socket);
    if (m_ok && windowManager) {
        QProcessEnvironment env = environment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        m_wm.setProcessEnvironment(env);
        m_wm.start(QStringLiteral("openbox"), { QStringLiteral("--sm-disable") });
        // openbox is up once it has claimed the screen's window manager selection.
        const QDeadlineTimer wmDeadline(10000);
        while (!wmDeadline.hasExpired()) {
            const QByteArray out = run(QStringLiteral("xprop"),
                { QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK") },
                environment());
            if (out.contains("window id"))
                break;
            QThread::msleep(50);
        }
    }
}

Desktop::~Desktop()
{
    stopProcess(m_wm);
    stopProcess(m_xvfb);
}

QProcessEnvironment Desktop::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

void Desktop::keys(const QStringList &xdotoolArguments) const
{
    run(QStringLiteral("xdotool"), xdotoolArguments, environment());
}

QString Desktop::waitForWindow(const QString &name, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QStringLiteral("xdotool"),
            { QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                name });
        p.waitForFinished(5000);
        const QString id
            = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n').value(0).trimmed();
        if (!id.isEmpty())
            return id;
        QThread::msleep(30);
    }
    return {};
}

bool Desktop::windowExists(const QString &id) const
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral("xwininfo"), { QStringLiteral("-id"), id });
    p.waitForFinished(5000);
    return p.exitCode() == 0 && p.readAllStandardOutput().contains("IsViewable");
}

QImage Desktop::screenshot(const QString &windowId) const
{
    const QByteArray png = run(QStringLiteral("import"),
        { QStringLiteral("-window"), windowId.isEmpty() ? QStringLiteral("root") : windowId,
            QStringLiteral("png:-") },
        environment());
    return QImage::fromData(png, "PNG");
}

SoundServer::SoundServer() = default;

SoundServer::~SoundServer()
{
    stop();
}

QString SoundServer::server() const
{
    return QStringLiteral("unix:") + m_dir.filePath(QStringLiteral("native"));
}

QProcessEnvironment SoundServer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SERVER"), server());
    env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_dir.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("PULSE_STATE_PATH"), m_dir.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.remove(QStringLiteral("SDL_AUDIODRIVER"));
    return env;
}

bool SoundServer::start()
{
    stop();
    const QString config = m_dir.filePath(QStringLiteral("server.pa"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write("load-module module-null-sink sink_name=numeri_test rate=22050 channels=1\n"
            "load-module module-native-protocol-unix auth-anonymous=1 socket="
        + m_dir.filePath(QStringLiteral("native")).toUtf8() + "\nset-default-sink numeri_test\n");
    f.close();
    QFile::remove(m_dir.filePath(QStringLiteral("native")));
    m_daemon.setProcessEnvironment(environment());
    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon.start(QStringLiteral("pulseaudio"),
        { QStringLiteral("-n"), QStringLiteral("-F"), config, QStringLiteral("--exit-idle-time=-1"),
            QStringLiteral("--daemonize=no"), QStringLiteral("--use-pid-file=no"),
            QStringLiteral("--log-level=error"), QStringLiteral("--enable-memfd=no") });
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_daemon.state() != QProcess::NotRunning) {
        QProcess info;
        info.setProcessEnvironment(environment());
        info.start(QStringLiteral("pactl"), { QStringLiteral("info") });
        info.waitForFinished(3000);
        if (info.exitCode() == 0 && info.readAllStandardOutput().contains("numeri_test"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

void SoundServer::stop()
{
    if (m_daemon.state() == QProcess::NotRunning)
        return;
    // Killed, not asked: a crashed or vanished server is what the program must live through.
    m_daemon.kill();
    m_daemon.waitForFinished(3000);
}

Recorder::Recorder(const SoundServer &server)
    : m_server(server)
{ }

Recorder::~Recorder()
{
    stopProcess(m_parec);
}

bool Recorder::start()
{
    m_parec.setProcessEnvironment(m_server.environment());
    m_parec.start(QStringLiteral("parec"),
        { QStringLiteral("--device=numeri_test.monitor"), QStringLiteral("--raw"),
            QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
            QStringLiteral("--rate=%1").arg(rate), QStringLiteral("--latency-msec=10") });
    // The monitor of an idle sink sends nothing for a while after connecting.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_parec.waitForReadyRead(100) || m_parec.bytesAvailable() > 0) {
            m_parec.readAll();
            m_bytes.clear();
            return true;
        }
    }
    return false;
}

std::vector<qint16> Recorder::take(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        m_parec.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        m_bytes += m_parec.readAll();
    }
    m_bytes += m_parec.readAll();
    std::vector<qint16> samples(size_t(m_bytes.size() / 2));
    memcpy(samples.data(), m_bytes.constData(), samples.size() * 2);
    m_bytes.clear();
    return samples;
}

Heard heard(const std::vector<qint16> &samples, double fromSecond)
{
    constexpr int window = Recorder::rate / 100;
    constexpr double threshold = 0.01 * 32768; // RMS of a 10 ms window
    Heard h;
    for (size_t at = size_t(fromSecond * Recorder::rate); at + window <= samples.size();
         at += window) {
        double sum = 0;
        for (size_t i = at; i < at + window; ++i)
            sum += double(samples[i]) * samples[i];
        if (std::sqrt(sum / window) < threshold)
            continue;
        const double t = double(at) / Recorder::rate;
        if (!h.any)
            h.start = t;
        h.any = true;
        h.end = t + 0.01;
    }
    return h;
}

std::vector<qint16> wavSamples(const QString &file)
{
    SDL_AudioSpec spec {};
    Uint8 *data = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV(QFile::encodeName(file).constData(), &spec, &data, &length))
        return {};
    std::vector<qint16> samples;
    if (spec.format == AUDIO_S16LSB && spec.channels == 1 && spec.freq == Recorder::rate)
        samples.assign(
            reinterpret_cast<qint16 *>(data), reinterpret_cast<qint16 *>(data) + length / 2);
    SDL_FreeWAV(data);
    return samples;
}

qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

int countNear(const QImage &image, QRgb colour, int tolerance)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    int n = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            n += std::abs(qRed(line[x]) - qRed(colour)) <= tolerance
                && std::abs(qGreen(line[x]) - qGreen(colour)) <= tolerance
                && std::abs(qBlue(line[x]) - qBlue(colour)) <= tolerance;
    }
    return n;
}

} // namespace testkit
