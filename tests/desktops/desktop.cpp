#include "desktop.h"

#include "testkit.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>
#include <sys/stat.h>
#include <utility>

namespace testkit {

namespace {
// Unsafe mode lets the tests drive the shell through its Eval method; GNOME 43 has no flag for it.
// From GNOME 45 on (Debian 13 has 48) an extension is a JavaScript module.
QByteArray extension(int major)
{
    if (major >= 45)
        return "export default class {\n"
               "    enable() { global.context.unsafe_mode = true; }\n"
               "    disable() {}\n"
               "}\n";
    return "function init() {}\n"
           "function enable() { global.context.unsafe_mode = true; }\n"
           "function disable() {}\n";
}

// GNOME Shell's major version: 43 in "GNOME Shell 43.9".
int gnomeVersion()
{
    QProcess shell;
    shell.start(QStringLiteral("gnome-shell"), { QStringLiteral("--version") });
    shell.waitForFinished(10000);
    return shell.readAllStandardOutput().trimmed().split(' ').value(2).split('.').value(0).toInt();
}

const QString extensionId = QStringLiteral("numeri-tests@numeri.org");
// GNOME asks the parent once per program, and keeps the answer with the desktop file's name.
const char kwinComponent[] = "numeritests";
} // namespace

Desktop::Desktop(Kind kind)
    : m_kind(kind)
{
    const QString dir = m_dir.path();
    m_env = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
             "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE", "XDG_DATA_DIRS" })
        m_env.remove(QString::fromLatin1(name));
    QDir().mkpath(dir + u"/data/applications");
    for (const auto &[name, sub] : { std::pair { "XDG_RUNTIME_DIR", "run" }, { "HOME", "home" },
             { "XDG_CONFIG_HOME", "config" }, { "XDG_DATA_HOME", "data" } }) {
        QDir().mkpath(dir + u'/' + QLatin1String(sub));
        m_env.insert(QLatin1String(name), dir + u'/' + QLatin1String(sub));
    }
    ::chmod(QFile::encodeName(dir + u"/run").constData(), 0700);
    m_env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), u"unix:path=" + dir + u"/session");
}

Desktop::~Desktop()
{
    if (QTest::currentTestFailed())
        qWarning("the desktop said: %s",
            contentOf(m_dir.filePath(QStringLiteral("compositor.log"))).right(3000).constData());
    // The compositor first, so that nothing of its session outlives the buses.
    for (QProcess *p : { &m_compositor, &m_sessionBus, &m_systemBus }) {
        if (p->state() == QProcess::NotRunning)
            continue;
        p->terminate();
        if (!p->waitForFinished(5000)) {
            p->kill();
            p->waitForFinished();
        }
    }
}

bool Desktop::startBus(QProcess &bus, const QString &config, const QString &address)
{
    const QString file = m_dir.filePath(config);
    const QByteArray type = config == u"system.conf" ? "system" : "session";
    write(file,
        "<busconfig><type>" + type + "</type><listen>" + address.toUtf8()
            + "</listen><auth>EXTERNAL</auth><standard_session_servicedirs/>"
              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    // Services the bus starts take its environment: this session's folders, not the user's.
    bus.setProcessEnvironment(m_env);
    bus.setStandardErrorFile(m_dir.filePath(QStringLiteral("buses.log")), QIODevice::Append);
    bus.start(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--nofork"), QStringLiteral("--config-file=") + file,
            QStringLiteral("--print-address") });
    return bus.waitForReadyRead(10000);
}

bool Desktop::start()
{
    const QString dir = m_dir.path();
    QStringList command;
    if (m_kind == Gnome) {
        m_env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), u"unix:path=" + dir + u"/system");
        if (!startBus(m_systemBus, QStringLiteral("system.conf"),
                m_env.value(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"))))
            return false;
        const QString ext = dir + u"/data/gnome-shell/extensions/" + extensionId;
        const int major = gnomeVersion();
        write(ext + u"/extension.js", extension(major));
        write(ext + u"/metadata.json",
            "{\"uuid\": \"" + extensionId.toUtf8()
                + "\", \"name\": \"numeri tests\", \"description\": \"Eval for the tests\", "
                  "\"shell-version\": [\""
                + QByteArray::number(major) + "\"]}\n");
    }
    if (!startBus(m_sessionBus, QStringLiteral("session.conf"),
            m_env.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"))))
        return false;
    if (m_kind == Gnome) {
        // Not the tour's welcome, which would take the keys first.
        for (const QString &set : { QString(u"enabled-extensions ['" + extensionId + u"']"),
                 QStringLiteral("welcome-dialog-last-shown-version 999") }) {
            QProcess gsettings;
            gsettings.setProcessEnvironment(m_env);
            gsettings.start(QStringLiteral("gsettings"),
                QStringLiteral("set org.gnome.shell ").append(set).split(u' '));
            if (!gsettings.waitForFinished(10000) || gsettings.exitCode() != 0)
                return false;
        }
        command = QStringLiteral("gnome-shell --headless --wayland --no-x11 --virtual-monitor "
                                 "1920x1080 --wayland-display wayland-numeri")
                      .split(u' ');
    } else {
        // Debian gives kwin_wayland a file capability, which a container refuses to run; a copy
        // runs without it, and KWin knows itself by a name that ends in kwin_wayland.
        const QString copy = dir + u"/kwin_wayland";
        if (!QFile::copy(QStringLiteral("/usr/bin/kwin_wayland"), copy))
            return false;
        m_env.insert(QStringLiteral("KWIN_WAYLAND_NO_PERMISSION_CHECKS"), QStringLiteral("1"));
        command = QStringList { copy }
            + QStringLiteral("--virtual --width 1920 --height 1080 --socket wayland-numeri")
                  .split(u' ');
    }
    m_compositor.setProcessEnvironment(m_env);
    m_compositor.setStandardOutputFile(dir + u"/compositor.log");
    m_compositor.setStandardErrorFile(dir + u"/compositor.log");
    m_compositor.start(command.takeFirst(), command);
    // The session's programs, from here on; KWin, a Qt program too, picks its own platform.
    m_env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-numeri"));
    m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    m_env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    m_env.remove(QStringLiteral("KWIN_WAYLAND_NO_PERMISSION_CHECKS"));
    if (m_compositor.waitForStarted() && waitReady())
        return true;
    qWarning("%s", contentOf(dir + u"/compositor.log").right(3000).constData());
    return false;
}

bool Desktop::waitReady()
{
    m_bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
        m_env.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")), m_dir.path()));
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && m_compositor.state() == QProcess::Running) {
        if (m_kind == Gnome ? eval(QStringLiteral("Main.layoutManager._startingUp")) == u"false"
                            : QFile::exists(m_dir.filePath(QStringLiteral("run/wayland-numeri")))
                    && m_bus->interface()->isServiceRegistered(
                        QStringLiteral("org.kde.kglobalaccel")))
            break;
        QTest::qWait(50);
    }
    if (deadline.hasExpired() || m_compositor.state() != QProcess::Running)
        return false;
    if (m_kind == Gnome)
        return true;
    // A shortcut of the tests' own, bound through kglobalaccel as a program binds one.
    const QStringList action { QLatin1String(kwinComponent), QStringLiteral("mark"),
        QLatin1String(kwinComponent), QStringLiteral("mark") };
    const auto call = [this, &action](const char *method, const QVariantList &more = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.kglobalaccel"), QStringLiteral("/kglobalaccel"),
            QStringLiteral("org.kde.KGlobalAccel"), QLatin1String(method));
        message.setArguments(QVariantList { action } + more);
        return m_bus->call(message).type() == QDBusMessage::ReplyMessage;
    };
    // Present, and these keys rather than any kept from before. KWin takes its shortcuts into
    // its input only some time after kglobalaccel is on the bus: until the shortcut has fired
    // once, it is bound again.
    const uint setPresent = 2, noAutoloading = 4;
    if (!m_bus->connect(QString(), u"/component/" + QLatin1String(kwinComponent),
            QStringLiteral("org.kde.kglobalaccel.Component"),
            QStringLiteral("globalShortcutPressed"), this, SLOT(fired())))
        return false;
    while (!deadline.hasExpired()) {
        if (!call("doRegister")
            || !call("setShortcut",
                { QVariant::fromValue(QList<int> { (Qt::META | Qt::Key_F9).toCombined() }),
                    setPresent | noAutoloading })
            || !pressShortcut())
            return false;
        for (int i = 0; i < 10 && !m_fired; ++i)
            QTest::qWait(50);
        if (shortcutFired())
            return true;
    }
    return false;
}

QString Desktop::eval(const QString &script)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell"),
        QStringLiteral("/org/gnome/Shell"), QStringLiteral("org.gnome.Shell"),
        QStringLiteral("Eval"));
    message << script;
    const QDBusMessage reply = m_bus->call(message, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2
        || !reply.arguments()[0].toBool())
        return {};
    // The shell gives its answer as JSON: a string comes quoted.
    QString answer = reply.arguments()[1].toString();
    if (answer.startsWith(u'"') && answer.endsWith(u'"') && answer.size() >= 2)
        answer = answer.mid(1, answer.size() - 2);
    return answer;
}

bool Desktop::keys(const QString &steps)
{
    const QStringList words = steps.split(u' ', Qt::SkipEmptyParts);
    if (m_kind == Kwin) {
        QProcess client;
        client.setProcessEnvironment(m_env);
        client.setProcessChannelMode(QProcess::ForwardedChannels);
        client.start(QStringLiteral(NUMERI_KWIN_KEYS), words);
        return client.waitForFinished(30000) && client.exitCode() == 0;
    }
    // A virtual keyboard of the shell's own, made once: Clutter counts its keys held down.
    const QString keyboard = QStringLiteral(
        "const C = imports.gi.Clutter, G = imports.gi.GLib;"
        "if (!global.numeriKeys) global.numeriKeys = C.get_default_backend().get_default_seat()"
        ".create_virtual_device(C.InputDeviceType.KEYBOARD_DEVICE);"
        "const k = global.numeriKeys, t = () => G.get_monotonic_time();");
    QString script = keyboard;
    for (qsizetype i = 0; i + 1 < words.size(); i += 2) {
        const QString code = words[i + 1];
        if (words[i] == u"s") {
            // The shell runs meanwhile: the keys before the wait are sent first.
            if (eval(script + u"'ok'") != u"ok")
                return false;
            QTest::qWait(code.toInt());
            script = keyboard;
            continue;
        }
        if (words[i] != u"u")
            script += u"k.notify_key(t(), " + code + u", C.KeyState.PRESSED);";
        if (words[i] != u"d")
            script += u"k.notify_key(t(), " + code + u", C.KeyState.RELEASED);";
    }
    return eval(script + u"'ok'") == u"ok";
}

bool Desktop::pressShortcut()
{
    // Super alone opens GNOME's overview as it is let go; KWin's shortcut is the tests' own.
    return keys(
        m_kind == Gnome ? QStringLiteral("d 125 s 60 u 125") : QStringLiteral("d 125 k 67 u 125"));
}

bool Desktop::shortcutFired()
{
    if (m_kind == Gnome) {
        const bool shown = eval(QStringLiteral("Main.overview.visible")) == u"true";
        if (shown) {
            // Put back, to the end of its animation: Super meanwhile would only reverse it.
            eval(QStringLiteral("Main.overview.hide()"));
            for (int i = 0; i < 100 && eval(QStringLiteral("Main.overview.visible")) != u"false";
                 ++i)
                QTest::qWait(20);
        }
        return shown;
    }
    QTest::qWait(0);
    const bool fired = m_fired > 0;
    m_fired = 0;
    return fired;
}

} // namespace testkit
