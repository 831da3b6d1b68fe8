#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

class QWidget;
class QWindow;

namespace lock {

class ShortcutsInhibitor;

// X11's pointer, grabbed for WINDOW and confined to it; whether it is held now. Qt 6.4 takes
// XInput 2's answer to a grab without reading its status, and so would call a grab that another
// program holds had: this asks X itself. The program's own boxes still get their clicks.
bool grabPointer(QWindow *window);
void ungrabPointer();

// Keeps the desktop's own keys (Super, Alt+Tab, Alt+F4, ...) from the desktop while WINDOW is
// up: on X11 by grabbing the keyboard and the pointer, the pointer kept inside it, on Wayland by
// asking the compositor to inhibit its shortcuts. Every answer is checked; a grab that another
// program holds is asked for again until it is had, and whatever cannot be locked is said once on
// standard error and told.
class KeyboardLock : public QObject
{
    Q_OBJECT
public:
    explicit KeyboardLock(QWidget *window);
    ~KeyboardLock() override;

Q_SIGNALS:
    // The lock was had, or lost: WHY says so in Italian, for the parent.
    void changed(bool holds, const QString &why);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void grab();
    void tell(bool holds, const QString &why);

    QWidget *m_window;
    QTimer m_retry;
    bool m_x11;
    bool m_holds = false;
    bool m_saidRefused = false;
    std::unique_ptr<ShortcutsInhibitor> m_inhibitor;
};

} // namespace lock
