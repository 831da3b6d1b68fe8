#pragma once

#include <QImage>
#include <QMessageBox>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

namespace testkit {

// The build's media folder, as the program finds it beside its executable.
QString builtMedia();
// Copies the built media into FOLDER/IMG, making FOLDER as needed.
void copyMedia(const QString &folder);

// Puts a bad file where the program expects FILE: "file" writes CONTENT, "folder" makes a folder
// of that name, "loop" a symlink loop, "fifo" a named pipe, "missing" nothing. False on failure.
bool placeBadFile(const QString &file, const QString &kind, const QByteArray &content = {});

// A message box as the child saw it.
struct SeenBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool seen = false;
};

// Waits, from inside whatever event loop runs next, for a modal box; notes what it shows and
// presses its OK button as a child would.
class BoxCloser
{
public:
    // onSeen runs the moment the box is seen open, before it is closed.
    explicit BoxCloser(std::function<void()> onSeen = {});
    ~BoxCloser();
    const SeenBox &box() const { return *m_box; }

private:
    std::shared_ptr<SeenBox> m_box;
    std::unique_ptr<QTimer> m_poll;
};

// ---- End to end: real processes on this machine -------------------------------------------

// Runs a program to its end and returns its standard output; fails the test on a bad exit.
QByteArray run(const QString &program, const QStringList &arguments,
    const QProcessEnvironment &environment, int timeoutMs = 10000);

// An X server (Xvfb) on a free display number, optionally with the openbox window manager.
class Desktop
{
public:
    explicit Desktop(bool windowManager);
    ~Desktop();
    bool ok() const { return m_ok; }
    QString display() const { return m_display; }
    QProcessEnvironment environment() const;
    // Presses keys with xdotool, as a keyboard would (names as xdotool knows them).
    void keys(const QStringList &xdotoolArguments) const;
    // The id of the first window whose title contains NAME, waiting for it to map; 0 if none.
    QString waitForWindow(const QString &name, int timeoutMs = 10000) const;
    bool windowExists(const QString &id) const;
    QImage screenshot(const QString &windowId = QString()) const;

private:
    QTemporaryDir m_dir;
    QString m_display;
    QProcess m_xvfb;
    QProcess m_wm;
    bool m_ok = false;
};

// A PulseAudio daemon with only a null sink, whose monitor can be recorded.
class SoundServer
{
public:
    SoundServer();
    ~SoundServer();
    bool start();
    void stop();
    bool ok() const { return m_daemon.state() == QProcess::Running; }
    QString server() const; // for PULSE_SERVER
    QProcessEnvironment environment() const;

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
};

// Records the null sink's monitor as 16-bit mono samples at `rate`.
class Recorder
{
public:
    static constexpr int rate = 22050;
    explicit Recorder(const SoundServer &server);
    ~Recorder();
    // Starts parec and waits until the monitor really sends, which takes it a moment.
    bool start();
    // Everything recorded so far, after waiting `ms` more.
    std::vector<qint16> take(int ms);

private:
    QProcess m_parec;
    QByteArray m_bytes;
    const SoundServer &m_server;
};

// Where in a recording sound is heard: first and last 10 ms window above the threshold.
struct Heard
{
    bool any = false;
    double start = 0; // seconds from the recording's start
    double end = 0;
    double length() const { return end - start; }
};
Heard heard(const std::vector<qint16> &samples, double fromSecond = 0);
// The recording's own samples, as heard() reads them (16-bit mono at Recorder::rate).
std::vector<qint16> wavSamples(const QString &file);

// This process's resident memory now, from /proc.
qint64 residentBytes();

// Pixels of an image that are near a colour.
int countNear(const QImage &image, QRgb colour, int tolerance = 40);

} // namespace testkit
