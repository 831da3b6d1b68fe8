// The Wayland desktops families use, GNOME Shell and KWin, started headless for the benchmark,
// and how soon a program's window is shown there, as the desktop itself sees it.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QTemporaryDir>

namespace bench {

class Desktop
{
public:
    enum Kind { Gnome, Kwin };

    explicit Desktop(Kind kind);
    ~Desktop();
    Desktop(const Desktop &) = delete;
    Desktop &operator=(const Desktop &) = delete;

    // Starts it, with a session bus and folders of its own; where it did not come up, why not.
    QString start();
    // "GNOME Shell 43.9", "KWin 5.27.5": known once started.
    QString name() const { return m_name; }
    // Starts PROGRAM in the session and stops it again; the ms from its start to the first frame
    // of its window, as the desktop took it in and showed the window; -1 where none came.
    double firstFrame(const QString &program, const QStringList &args);

private:
    QString startGnome();
    QString startKwin();
    QString eval(const QString &script);
    // The moment PID's first window was shown, in the clock firstFrame() started it by; -1 where
    // it was not within the deadline.
    double shownAt(qint64 pid);

    Kind m_kind;
    QTemporaryDir m_dir;
    QProcessEnvironment m_env;
    QProcess m_bus, m_compositor;
    QDBusConnection m_connection { QString() };
    QString m_name;
    QByteArray m_output; // KWin's, where its script tells the windows it shows
};

struct DesktopStartUps
{
    QString name, why; // why not measured, where it was not
    double plain = -1, floor = -1, locked = -1, lockedFloor = -1;
};

inline constexpr int desktopStarts = 11;

// Medians of desktopStarts starts each, the program and the floor taking turns, plain and full
// screen (ARGS), on one desktop of KIND started for them all.
DesktopStartUps desktopStartUps(
    Desktop::Kind kind, const QString &program, const QString &floor, const QStringList &args);

} // namespace bench
