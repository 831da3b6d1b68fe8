#include "desktop.h"

#include "testkit.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>
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

const QByteArray extensionId = "numeri-tests@numeri.org";
const QString kwinComponent = QStringLiteral("numeritests");
} // namespace

Desktop::~Desktop()
{
    if (QTest::currentTestFailed())
        qWarning("the desktop said: %s",
            contentOf(m_dir.filePath(QStringLiteral("session.log"))).right(3000).constData());
}

void Desktop::launch(QProcess &process, QStringList command) const
{
    command = m_as + command;
    process.setProcessEnvironment(m_env);
    process.setStandardErrorFile(m_dir.filePath(QStringLiteral("session.log")), QIODevice::Append);
    process.start(command.takeFirst(), command);
}

bool Desktop::start()
{
    const QString dir = m_dir.path();
    m_env = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
             "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE", "XDG_DATA_DIRS", "QT_QPA_PLATFORM" })
        m_env.remove(QString::fromLatin1(name));
    for (const auto &[name, sub] : { std::pair { "XDG_RUNTIME_DIR", "run" }, { "HOME", "home" },
             { "XDG_CONFIG_HOME", "config" }, { "XDG_DATA_HOME", "data" } }) {
        QDir().mkpath(dir + u'/' + QLatin1String(sub));
        m_env.insert(QLatin1String(name), dir + u'/' + QLatin1String(sub));
    }
    ::chmod(QFile::encodeName(dir + u"/run").constData(), 0700);
    // Settings in a file of the session's own, which the shell reads as it starts.
    m_env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
    // Full stacks, for the sanitizer build's leak check to tell Qt's Wayland libraries by name.
    if (m_env.contains(QStringLiteral("ASAN_OPTIONS")))
        m_env.insert(QStringLiteral("ASAN_OPTIONS"),
            m_env.value(QStringLiteral("ASAN_OPTIONS")) + u":fast_unwind_on_malloc=0");
    // GNOME keeps its answer under the desktop file's name, found where it can be run, and reads
    // the desktop files as it starts.
    QByteArray entry
        = contentOf(QStringLiteral(NUMERI_SOURCE_DIR "/packaging/" NUMERI_APP_ID ".desktop"));
    entry.replace("\nExec=numeri\n", "\nExec=" NUMERI_BUILD_DIR "/numeri\n");
    write(dir + u"/data/applications/" NUMERI_APP_ID ".desktop", entry);
    QStringList command;
    if (m_kind == Sway) {
        if (::geteuid() == 0) {
            m_as = QStringLiteral("setpriv --reuid=nobody --regid=nogroup --clear-groups")
                       .split(u' ');
            for (const char *sub : { "", "/run", "/home", "/config", "/data" })
                if (::chown(QFile::encodeName(dir + QLatin1String(sub)).constData(), 65534, 65534))
                    return false;
        }
        QByteArray config
            = "output HEADLESS-1 mode 1280x800 position 0 0\nbindsym Mod4+e exec touch "
            + QFile::encodeName(dir) + "/mark\n";
        if (m_second.isValid())
            config += "output HEADLESS-2 mode " + QByteArray::number(m_second.width()) + 'x'
                + QByteArray::number(m_second.height()) + " scale 2 position 1280 0\n";
        write(dir + u"/sway.config", config);
        for (const auto &[name, value] : { std::pair { "WLR_BACKENDS", "headless" },
                 { "WLR_LIBINPUT_NO_DEVICES", "1" }, { "WLR_RENDERER", "pixman" } })
            m_env.insert(QLatin1String(name), QLatin1String(value));
        m_env.insert(
            QStringLiteral("WLR_HEADLESS_OUTPUTS"), QString::number(m_second.isValid() ? 2 : 1));
        m_env.insert(QStringLiteral("SWAYSOCK"), dir + u"/run/ipc");
        command
            = QStringList { QStringLiteral("sway"), QStringLiteral("-c"), dir + u"/sway.config" };
    } else {
        // Services the bus starts take its environment: this session's folders, not the user's.
        const QString bus = u"unix:path=" + dir + u"/session";
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus);
        launch(m_bus,
            QStringLiteral("dbus-daemon --session --nofork --print-address").split(u' ')
                << u"--address=" + bus);
        if (!m_bus.waitForReadyRead(10000))
            return false;
    }
    if (m_kind == Gnome) {
        m_env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
            m_env.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")));
        const QString ext = dir + u"/data/gnome-shell/extensions/" + QLatin1String(extensionId);
        // GNOME Shell's major version: 43 in "GNOME Shell 43.9".
        const QByteArray line = run(words("gnome-shell --version")).trimmed();
        const int major = line.split(' ').value(2).split('.').value(0).toInt();
        write(ext + u"/extension.js", extension(major));
        write(ext + u"/metadata.json",
            "{\"uuid\": \"" + extensionId
                + "\", \"name\": \"numeri tests\", \"description\": \"Eval for the tests\", "
                  "\"shell-version\": [\""
                + QByteArray::number(major) + "\"]}\n");
        // Not the tour's welcome, which would take the keys first.
        write(dir + u"/config/glib-2.0/settings/keyfile",
            "[org/gnome/shell]\nenabled-extensions=['" + extensionId
                + "']\nwelcome-dialog-last-shown-version='999'\n");
        command = QStringLiteral("gnome-shell --headless --wayland --no-x11 --virtual-monitor "
                                 "1920x1080 --wayland-display wayland-numeri")
                      .split(u' ');
    } else if (m_kind == Kwin) {
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
    launch(m_compositor, command);
    // The session's programs, from here on; KWin, a Qt program too, picks its own platform. sway
    // takes the first free name.
    m_env.insert(QStringLiteral("WAYLAND_DISPLAY"),
        m_kind == Sway ? QStringLiteral("wayland-1") : QStringLiteral("wayland-numeri"));
    m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    m_env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    return m_compositor.waitForStarted() && waitReady();
}

bool Desktop::waitReady()
{
    m_connection = QDBusConnection::connectToBus(
        m_env.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")), m_dir.path());
    // A shortcut of the tests' own, bound through kglobalaccel as a program binds one: present,
    // and these keys rather than any kept from before. KWin takes its shortcuts into its input
    // only some time after kglobalaccel is on the bus: until the shortcut has fired once, it is
    // bound again.
    const auto bound = [this] {
        const QStringList action { kwinComponent, QStringLiteral("mark"), kwinComponent,
            QStringLiteral("mark") };
        QDBusInterface accel(QStringLiteral("org.kde.kglobalaccel"),
            QStringLiteral("/kglobalaccel"), QStringLiteral("org.kde.KGlobalAccel"), m_connection);
        const uint setPresent = 2, noAutoloading = 4;
        accel.call(QStringLiteral("doRegister"), action);
        accel.call(QStringLiteral("setShortcut"), action,
            QVariant::fromValue(QList<int> { (Qt::META | Qt::Key_F9).toCombined() }),
            setPresent | noAutoloading);
        pressShortcut();
        for (int i = 0; i < 10 && !m_fired; ++i)
            QTest::qWait(50);
        return shortcutFired();
    };
    if (m_kind == Kwin
        && !m_connection.connect(QString(), u"/component/" + kwinComponent,
            QStringLiteral("org.kde.kglobalaccel.Component"),
            QStringLiteral("globalShortcutPressed"), this, SLOT(fired())))
        return false;
    // sway gives the seat a virtual keyboard's keys only where one was there before the program:
    // one held from the start, once sway takes it.
    const auto swayUp = [this] {
        if (m_keyboard.state() == QProcess::NotRunning)
            launch(m_keyboard, QStringLiteral("wtype -s 600000").split(u' '));
        return command(QStringLiteral("swaymsg -t get_inputs")).contains("virtual_keyboard");
    };
    // GNOME comes up in its overview, as after a login, and is left with Esc, as a person leaves
    // it before starting a program. From GNOME 51 on a window that appears while that first
    // overview shows never gets a key: leaving it, the shell hands the keyboard back to the
    // overview's own box, hidden by then.
    const auto gnomeUp = [this] {
        const int escape = 1;
        return eval(QStringLiteral("Main.layoutManager._startingUp")) == u"false" && tap(escape)
            && QTest::qWaitFor(
                [this] { return eval(QStringLiteral("Main.overview.visible")) == u"false"; }, 2000);
    };
    // Asked only once KWin has it: the bus would start a kglobalaccel of its own.
    const auto kwinUp = [&] {
        return m_connection.interface()->isServiceRegistered(QStringLiteral("org.kde.kglobalaccel"))
            && bound();
    };
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && m_compositor.state() == QProcess::Running) {
        if (m_kind == Gnome ? gnomeUp() : m_kind == Sway ? swayUp() : kwinUp())
            return true;
        QTest::qWait(50);
    }
    return false;
}

QString Desktop::eval(const QString &script)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell"),
        QStringLiteral("/org/gnome/Shell"), QStringLiteral("org.gnome.Shell"),
        QStringLiteral("Eval"));
    // The shell gives its answer as JSON.
    const QVariantList reply = m_connection.call(call << script, QDBus::Block, 5000).arguments();
    return reply.value(0).toBool() ? reply.value(1).toString() : QString();
}

QByteArray Desktop::command(const QString &line) const
{
    return run(m_as + line.split(u' '), m_env);
}

bool Desktop::keys(const QString &steps)
{
    const QStringList words = steps.split(u' ', Qt::SkipEmptyParts);
    if (m_kind == Sway) {
        // wtype's steps, and its names of the keys the tests press.
        const QHash<QString, QString> wtype { { QStringLiteral("d"), QStringLiteral("-P") },
            { QStringLiteral("u"), QStringLiteral("-p") },
            { QStringLiteral("s"), QStringLiteral("-s") },
            { QStringLiteral("1"), QStringLiteral("Escape") },
            { QStringLiteral("28"), QStringLiteral("Return") },
            { QStringLiteral("32"), QStringLiteral("d") } };
        QString line = QStringLiteral("wtype");
        for (const QString &word : words)
            line += u' ' + wtype.value(word, word);
        command(line);
        return m_compositor.state() == QProcess::Running;
    }
    if (m_kind == Kwin) {
        QProcess client;
        launch(client, QStringList { QStringLiteral(NUMERI_KWIN_KEYS) } + words);
        return client.waitForFinished(30000) && client.exitCode() == 0;
    }
    // A virtual keyboard of the shell's own, made once (Clutter counts its keys held down), and
    // from then on the overview's openings counted. From GNOME 51 on Clutter has no default
    // backend, only the stage's context has it; GNOME 43's stage has no context.
    const QString keyboard
        = QStringLiteral("const C = imports.gi.Clutter, G = imports.gi.GLib;"
                         "if (!global.numeriKeys) { global.numeriShown = 0;"
                         " Main.overview.connect('showing', () => global.numeriShown++);"
                         " const c = global.stage.context;"
                         " global.numeriKeys = (c ? c.get_backend() : C.get_default_backend())"
                         ".get_default_seat().create_virtual_device("
                         "C.InputDeviceType.KEYBOARD_DEVICE); }"
                         "const k = global.numeriKeys, t = () => G.get_monotonic_time();");
    QString script = keyboard;
    for (qsizetype i = 0; i + 1 < words.size(); i += 2) {
        if (words[i] == u"s") {
            // The shell runs meanwhile: the keys before the wait are sent first.
            if (eval(script + u"true") != u"true")
                return false;
            QTest::qWait(words[i + 1].toInt());
            script = keyboard;
        } else {
            // Clutter's key states: 1 pressed, 0 let go.
            script += QStringLiteral("k.notify_key(t(), %1, %2);")
                          .arg(words[i + 1])
                          .arg(int(words[i] == u"d"));
        }
    }
    return eval(script + u"true") == u"true";
}

bool Desktop::pressShortcut()
{
    // Super alone opens GNOME's overview as it is let go; KWin's shortcut is the tests' own, its
    // keys held together as a finger's tap; sway's, Super held as a modifier.
    if (m_kind == Sway) {
        command(QStringLiteral("wtype -M logo e -m logo"));
        return m_compositor.state() == QProcess::Running;
    }
    return keys(m_kind == Gnome ? QStringLiteral("d 125 s 60 u 125")
                                : QStringLiteral("d 125 d 67 s 30 u 67 u 125"));
}

bool Desktop::shortcutFired()
{
    QTest::qWait(0);
    if (m_kind == Sway)
        return QFile::remove(m_dir.filePath(QStringLiteral("mark")));
    if (m_kind == Gnome)
        return eval(QStringLiteral("const n = global.numeriShown; global.numeriShown = 0; n"))
                   .toInt()
            > 0;
    return std::exchange(m_fired, 0) > 0;
}

} // namespace testkit
