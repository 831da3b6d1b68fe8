#include "bench/desktops.h"

#include "bench/harness.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <sys/stat.h>
#include <time.h>
#include <utility>

namespace bench {

namespace {
const QByteArray extensionId = "numeri-bench@numeri.org";
const QString socket = QStringLiteral("wayland-numeri-bench");
const QString kwinMark = QStringLiteral("numeri-bench-shown ");

double clockMs(clockid_t clock)
{
    timespec t {};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// GNOME Shell stamps what it sees by GLib's monotonic clock, KWin's script by the wall clock,
// to the millisecond.
clockid_t clockOf(Desktop::Kind kind)
{
    return kind == Desktop::Gnome ? CLOCK_MONOTONIC : CLOCK_REALTIME;
}

bool write(const QString &file, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(file).path());
    QFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QString versionOf(const QString &program)
{
    return QString::fromUtf8(
        run(program, { QStringLiteral("--version") }, QProcessEnvironment::systemEnvironment())
            .trimmed());
}
} // namespace

Desktop::Desktop(Kind kind)
    : m_kind(kind)
{
    const QString dir = m_dir.path();
    m_env = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
             "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE", "XDG_DATA_DIRS", "QT_QPA_PLATFORM",
             "PULSE_SERVER", "PULSE_RUNTIME_PATH" })
        m_env.remove(QString::fromLatin1(name));
    for (const auto &[name, sub] : { std::pair { "XDG_RUNTIME_DIR", "run" }, { "HOME", "home" },
             { "XDG_CONFIG_HOME", "config" }, { "XDG_DATA_HOME", "data" } }) {
        QDir().mkpath(dir + u'/' + QLatin1String(sub));
        m_env.insert(QLatin1String(name), dir + u'/' + QLatin1String(sub));
    }
    ::chmod(QFile::encodeName(dir + u"/run").constData(), 0700);
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), u"unix:path=" + dir + u"/session");
}

Desktop::~Desktop()
{
    // The compositor first, so that nothing of its session outlives the bus.
    for (QProcess *p : { &m_compositor, &m_bus }) {
        p->terminate();
        if (!p->waitForFinished(5000))
            p->kill();
        p->waitForFinished();
    }
    QDBusConnection::disconnectFromBus(m_dir.path());
}

QString Desktop::start()
{
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder");
    m_bus.setProcessEnvironment(m_env);
    m_bus.setStandardOutputFile(QProcess::nullDevice());
    m_bus.setStandardErrorFile(QProcess::nullDevice());
    m_bus.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--session"), QStringLiteral("--nofork"),
            u"--address=" + m_env.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")) });
    if (!m_bus.waitForStarted())
        return QStringLiteral("dbus-daemon did not start");
    m_connection = QDBusConnection::connectToBus(
        m_env.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")), m_dir.path());
    for (int i = 0; i < 100 && !m_connection.isConnected(); ++i) {
        QThread::msleep(50);
        QDBusConnection::disconnectFromBus(m_dir.path());
        m_connection = QDBusConnection::connectToBus(
            m_env.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")), m_dir.path());
    }
    if (!m_connection.isConnected())
        return QStringLiteral("its session bus did not come up");
    const QString why = m_kind == Gnome ? startGnome() : startKwin();
    // The session's programs, from here on.
    m_env.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    m_env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    return why;
}

QString Desktop::startGnome()
{
    m_name = versionOf(QStringLiteral("gnome-shell"));
    const int major = m_name.split(u' ').value(2).split(u'.').value(0).toInt();
    if (major == 0)
        return QStringLiteral("no gnome-shell here");
    // Without a system bus the shell stops: the session's serves as one.
    m_env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
        m_env.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")));
    m_env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
    // Only in unsafe mode does the shell run the benchmark's script, and GNOME 43 has no flag for
    // it; an extension turns it on. From GNOME 45 on an extension is a JavaScript module.
    const QString ext = m_env.value(QStringLiteral("XDG_DATA_HOME")) + u"/gnome-shell/extensions/"
        + QLatin1String(extensionId);
    const QByteArray enable = "enable() { global.context.unsafe_mode = true; }\n";
    const QByteArray module = major >= 45
        ? QByteArray("export default class {\n" + enable + "disable() {}\n}\n")
        : QByteArray("function init() {}\nfunction " + enable + "function disable() {}\n");
    const bool written = write(ext + u"/extension.js", module)
        && write(ext + u"/metadata.json",
            "{\"uuid\": \"" + extensionId
                + "\", \"name\": \"numeri bench\", \"description\": \"Eval for the benchmark\", "
                  "\"shell-version\": [\""
                + QByteArray::number(major) + "\"]}\n")
        // Not the tour's welcome, which would open over the first window.
        && write(m_env.value(QStringLiteral("XDG_CONFIG_HOME")) + u"/glib-2.0/settings/keyfile",
            "[org/gnome/shell]\nenabled-extensions=['" + extensionId
                + "']\nwelcome-dialog-last-shown-version='999'\n");
    if (!written)
        return QStringLiteral("its settings could not be written");
    m_compositor.setProcessEnvironment(m_env);
    m_compositor.setStandardOutputFile(QProcess::nullDevice());
    m_compositor.setStandardErrorFile(m_dir.filePath(QStringLiteral("compositor.log")));
    m_compositor.start(QStringLiteral("gnome-shell"),
        { QStringLiteral("--headless"), QStringLiteral("--wayland"), QStringLiteral("--no-x11"),
            QStringLiteral("--virtual-monitor"), QStringLiteral("1920x1080"),
            QStringLiteral("--wayland-display"), socket });
    const QDeadlineTimer deadline(60000);
    while (eval(QStringLiteral("Main.layoutManager._startingUp")) != u"false") {
        if (m_compositor.waitForFinished(100) || deadline.hasExpired()) {
            QFile log(m_dir.filePath(QStringLiteral("compositor.log")));
            return u"gnome-shell did not come up: "
                + QString::fromUtf8(log.open(QIODevice::ReadOnly)
                        ? log.readAll().trimmed().split('\n').constLast()
                        : QByteArray());
        }
    }
    // Each window's first frame, as the shell maps the window once the program has committed a
    // drawing to it: stamped in the shell, so that how often it is asked does not count.
    const QString hook
        = QStringLiteral("if (!global.numeriShown) { global.numeriShown = {};"
                         " global.window_manager.connect('map', (wm, actor) => {"
                         "  const pid = actor.meta_window.get_pid();"
                         "  if (!(pid in global.numeriShown))"
                         "   global.numeriShown[pid] = imports.gi.GLib.get_monotonic_time(); }); }"
                         "true");
    return eval(hook) == u"true" ? QString() : QStringLiteral("its Eval did not answer");
}

QString Desktop::startKwin()
{
    // Debian gives kwin_wayland a file capability, which a container refuses to run; a copy runs
    // without it, and KWin knows itself by a name that ends in kwin_wayland.
    const QString copy = m_dir.filePath(QStringLiteral("kwin_wayland"));
    if (!QFile::copy(QStringLiteral("/usr/bin/kwin_wayland"), copy))
        return QStringLiteral("no kwin_wayland here");
    m_name = versionOf(copy).replace(QStringLiteral("kwin"), QStringLiteral("KWin"));
    // Started as a session starts it. With KWIN_WAYLAND_NO_PERMISSION_CHECKS, KWin 5.27 reads the
    // executable of every new client through twice, to fingerprint it, before it answers the
    // client's first request: a cost that grows with the program's file, 6 ms for the lesson's,
    // and that no child's desktop has.
    m_compositor.setProcessEnvironment(m_env);
    // Its script's words come on its output, read as they come.
    m_compositor.setProcessChannelMode(QProcess::MergedChannels);
    m_compositor.start(copy,
        { QStringLiteral("--virtual"), QStringLiteral("--width"), QStringLiteral("1920"),
            QStringLiteral("--height"), QStringLiteral("1080"), QStringLiteral("--socket"),
            socket });
    const QDeadlineTimer deadline(60000);
    while (!m_connection.interface()->isServiceRegistered(QStringLiteral("org.kde.KWin"))) {
        if (m_compositor.waitForReadyRead(100))
            m_output += m_compositor.readAll();
        if (deadline.hasExpired() || m_compositor.state() != QProcess::Running)
            return u"kwin_wayland did not come up: "
                + QString::fromUtf8(m_output.trimmed().split('\n').constLast());
    }
    // Each window's first frame, as KWin adds a window to its workspace once the program has
    // committed a drawing to it; the name of the signal is KWin 6's, then 5's.
    const QString script = m_dir.filePath(QStringLiteral("shown.js"));
    write(script,
        "(workspace.windowAdded || workspace.clientAdded).connect(function (w) {\n"
        "    print(\""
            + kwinMark.toLatin1()
            + "\" + w.pid + \" \" + Date.now());\n"
              "});\n");
    const auto call = [this](const QString &method, const QVariantList &args) {
        QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"),
            QStringLiteral("/Scripting"), QStringLiteral("org.kde.kwin.Scripting"), method);
        m.setArguments(args);
        return m_connection.call(m, QDBus::Block, 10000);
    };
    // KWin takes its name on the bus before its scripting is there.
    QDBusMessage loaded;
    while (loaded.type() != QDBusMessage::ReplyMessage) {
        loaded = call(QStringLiteral("loadScript"), { script, QStringLiteral("numeribench") });
        if (deadline.hasExpired())
            return u"KWin did not load the benchmark's script: " + loaded.errorMessage();
        QThread::msleep(50);
    }
    if (loaded.arguments().value(0).toInt() < 0)
        return QStringLiteral("KWin did not load the benchmark's script");
    call(QStringLiteral("start"), {});
    return {};
}

QString Desktop::eval(const QString &script)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell"),
        QStringLiteral("/org/gnome/Shell"), QStringLiteral("org.gnome.Shell"),
        QStringLiteral("Eval"));
    const QVariantList reply = m_connection.call(call << script, QDBus::Block, 5000).arguments();
    return reply.value(0).toBool() ? reply.value(1).toString() : QString();
}

double Desktop::shownAt(qint64 pid)
{
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (m_kind == Gnome) {
            const QString us = eval(QStringLiteral("global.numeriShown[%1] ?? -1").arg(pid));
            if (us.toDouble() > 0)
                return us.toDouble() / 1e3;
            QThread::msleep(20);
            continue;
        }
        m_compositor.waitForReadyRead(20);
        m_output += m_compositor.readAll();
        const QByteArray mark = kwinMark.toLatin1() + QByteArray::number(pid) + ' ';
        const qsizetype at = m_output.indexOf(mark);
        if (at >= 0) {
            const qsizetype end = m_output.indexOf('\n', at);
            if (end > at)
                return m_output.mid(at + mark.size(), end - at - mark.size()).trimmed().toDouble();
        }
    }
    return -1;
}

double Desktop::firstFrame(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessEnvironment(m_env);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    const double started = clockMs(clockOf(m_kind));
    p.start(program, args);
    const double shown = p.waitForStarted() ? shownAt(p.processId()) : -1;
    // Stopped once it has settled, so that the next start has the desktop to itself.
    QThread::msleep(300);
    p.terminate();
    if (!p.waitForFinished(5000))
        p.kill();
    p.waitForFinished();
    // Only what KWin says from here on is looked through.
    m_output.clear();
    return shown > 0 ? shown - started : -1;
}

DesktopStartUps desktopStartUps(
    Desktop::Kind kind, const QString &program, const QString &floor, const QStringList &args)
{
    Desktop desktop(kind);
    DesktopStartUps out;
    out.why = desktop.start();
    out.name = desktop.name();
    if (out.name.isEmpty())
        out.name = kind == Desktop::Gnome ? QStringLiteral("GNOME Shell") : QStringLiteral("KWin");
    if (!out.why.isEmpty())
        return out;
    std::vector<double> times[4];
    // A new desktop's first clients pay for what it sets up once: one of each, not counted. A
    // start costs under half a second, and a desktop's times spread more than an X server's.
    for (int i = -1; i < desktopStarts; ++i) {
        for (int which = 0; which < 4; ++which) {
            const double ms
                = desktop.firstFrame(which % 2 ? floor : program, which < 2 ? QStringList() : args);
            if (i >= 0 && ms >= 0)
                times[which].push_back(ms);
        }
    }
    out.plain = median(times[0]);
    out.floor = median(times[1]);
    out.locked = median(times[2]);
    out.lockedFloor = median(times[3]);
    return out;
}

} // namespace bench
