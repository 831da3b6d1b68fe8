#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>

class QWindow;
struct wl_registry;
struct wl_callback;
struct zwp_keyboard_shortcuts_inhibit_manager_v1;
struct zwp_keyboard_shortcuts_inhibitor_v1;

namespace lock {

// Asks a Wayland compositor to keep its own shortcuts from the user while a window has the
// keyboard (the keyboard-shortcuts-inhibit protocol), on the connection and seat of Qt's own,
// and tells what the compositor answers: granted, denied, or taken back later. GNOME answers a
// refusal with silence, and keeps it for later runs: no answer in time is told as a refusal, and
// a refusal GNOME keeps is looked up at once.
class ShortcutsInhibitor : public QObject
{
    Q_OBJECT
public:
    // How long a desktop may take to answer, a person answering GNOME's question among them.
    static constexpr std::chrono::seconds answerTime { 10 };

    // Asks for WINDOW, which must be shown; nullptr where the platform is not Wayland.
    static std::unique_ptr<ShortcutsInhibitor> ask(QWindow *window);
    ~ShortcutsInhibitor() override;

    // What is said where the desktop did not grant its keys, with how a parent gives them back.
    static QString notGranted();

    // libwayland's listeners.
    static void global(
        void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version);
    static void globalRemoved(void *, wl_registry *, uint32_t) { }
    static void listed(void *data, wl_callback *callback, uint32_t);
    static void active(void *data, zwp_keyboard_shortcuts_inhibitor_v1 *);
    static void inactive(void *data, zwp_keyboard_shortcuts_inhibitor_v1 *);

Q_SIGNALS:
    void changed(bool holds, const QString &why);

private:
    explicit ShortcutsInhibitor(QWindow *window);
    void inhibit();
    void answered();
    void lookUpKeptRefusal();

    QWindow *m_window;
    wl_registry *m_registry = nullptr;
    wl_callback *m_listing = nullptr;
    zwp_keyboard_shortcuts_inhibit_manager_v1 *m_manager = nullptr;
    zwp_keyboard_shortcuts_inhibitor_v1 *m_inhibitor = nullptr;
    QTimer m_unanswered;
    bool m_answered = false;
};

} // namespace lock
