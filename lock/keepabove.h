#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

class QWidget;

namespace lock {

// On X11, keeps WINDOW above every other program's window: a notice or another program's window
// opened while the lesson is locked would cover the digit, and take no clicks from a child whose
// pointer is grabbed. The window manager is asked to keep it above the others, as openbox does
// (i3 needs nothing: its full screen stands over the workspace's other windows); and as a bare X
// server puts each window it maps on top, every window that another program maps is followed by
// the lesson's raising itself again. Every request's answer is checked, and a refusal said once
// on standard error. Nothing on Wayland, where a compositor keeps a full-screen window on top.
class KeepAbove : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    // Before WINDOW is shown: the hint is part of the window's state as it maps.
    explicit KeepAbove(QWidget *window);
    ~KeepAbove() override;

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *result) override;

private:
    bool watchRoot();
    void raise();
    void refused(const char *what);

    QWidget *m_window;
    bool m_saidRefused = false;
};

} // namespace lock
