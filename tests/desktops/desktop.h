#pragma once

#include "soundserver.h"

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QSize>
#include <QTemporaryDir>

namespace testkit {

// A desktop families use, started headless and afresh in a folder of its own: GNOME Shell, KWin or
// sway on Wayland, the first two with a session bus of their own (GNOME takes it for its system
// bus too, without which it stops). It presses keys as a keyboard would, and tells whether one of
// its own shortcuts fired. The lesson's desktop file is put where GNOME looks for it.
class Desktop : public QObject
{
    Q_OBJECT
public:
    enum Kind { Gnome, Kwin, Sway };

    // SECOND, on sway: a second output of that size at scale 2, right of the first.
    explicit Desktop(Kind kind, QSize second = {})
        : m_kind(kind)
        , m_second(second)
    { }
    ~Desktop() override;

    // Starts it; false, with the reason in qWarning, where it did not come up.
    bool start();
    // Where a program of the session runs: its display, buses and a home of its own.
    QProcessEnvironment env() const { return m_env; }
    QString folder() const { return m_dir.path(); }
    // What a command of the session starts with: sway runs as an unprivileged user alone, and as
    // root the session is that of the user nobody.
    QStringList as() const { return m_as; }
    // A command run in the session, as its user; what it printed.
    QByteArray command(const QString &line) const;

    // Linux key codes, as a keyboard sends them: "d 125" presses Super, "u 125" lets it go,
    // "s 500" waits.
    bool keys(const QString &steps);
    bool tap(int code) { return keys(QStringLiteral("d %1 s 30 u %1").arg(code)); }
    // The shortcut bound: Super on GNOME (the Activities overview), Super+F9 on KWin (Super+F5 is
    // its own), Super+e on sway, bound to leave a mark; none is a key the lesson answers with a
    // box.
    bool pressShortcut();
    // Whether the shortcut fired since last asked.
    bool shortcutFired();

    // GNOME only: JavaScript run in the shell; what it gave, "" where it failed.
    QString eval(const QString &script);

private Q_SLOTS:
    void fired() { ++m_fired; }

private:
    bool waitReady();
    // Starts COMMAND in the session, as its user; what it says on standard error is kept in the
    // session's log, which a failed test shows.
    void launch(QProcess &process, QStringList command) const;

    Kind m_kind;
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    QSize m_second;
    QStringList m_as;
    // Ended in the reverse order: the compositor before the bus, so that nothing of its session
    // outlives the bus.
    Ended m_bus, m_compositor, m_keyboard;
    QDBusConnection m_connection { QString() };
    int m_fired = 0;
};

} // namespace testkit
