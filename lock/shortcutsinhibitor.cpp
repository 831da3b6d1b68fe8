#include "lock/shortcutsinhibitor.h"

#include "keyboard-shortcuts-inhibit-unstable-v1-client-protocol.h"
#include "lock/native.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QGuiApplication>
#include <QWindow>
#include <cstring>
#include <wayland-client.h>

namespace lock {

namespace {
const wl_registry_listener registryListener = {
    &ShortcutsInhibitor::global,
    &ShortcutsInhibitor::globalRemoved,
};
} // namespace

std::unique_ptr<ShortcutsInhibitor> ShortcutsInhibitor::ask(QWindow *window)
{
    if (QGuiApplication::platformName() != u"wayland")
        return nullptr;
    auto *display = static_cast<wl_display *>(nativeResource("wl_display"));
    if (!display || !nativeResource("wl_seat") || !nativeResource("surface", window))
        return nullptr;
    std::unique_ptr<ShortcutsInhibitor> asked(new ShortcutsInhibitor(window));
    // The compositor's globals arrive as events; a sync's answer comes after the last of them,
    // and says whether the protocol was among them. Nothing here waits on the compositor.
    asked->m_registry = wl_display_get_registry(display);
    wl_registry_add_listener(asked->m_registry, &registryListener, asked.get());
    static const wl_callback_listener listedListener = { &ShortcutsInhibitor::listed };
    asked->m_listing = wl_display_sync(display);
    wl_callback_add_listener(asked->m_listing, &listedListener, asked.get());
    wl_display_flush(display);
    return asked;
}

ShortcutsInhibitor::ShortcutsInhibitor(QWindow *window)
    : m_window(window)
{
    // A timer, not a wait: the lesson goes on full screen meanwhile, and the desktop may still
    // answer later.
    m_unanswered.setSingleShot(true);
    m_unanswered.setInterval(answerTime);
    connect(&m_unanswered, &QTimer::timeout, this, [this] { Q_EMIT changed(false, notGranted()); });
}

QString ShortcutsInhibitor::notGranted()
{
    return QStringLiteral(
        "il desktop non ha concesso i suoi tasti (GNOME: negato, o la sua domanda è rimasta "
        "senza risposta): il gioco è a schermo intero, ma i tasti del desktop funzionano. Per "
        "ridarli in GNOME: Impostazioni → Applicazioni → Ti insegno i numeri fino a 9 → «Blocca le "
        "scorciatoie» acceso; oppure, perché GNOME lo chieda di nuovo, in un terminale: gdbus "
        "call --session --dest org.freedesktop.impl.portal.PermissionStore --object-path "
        "/org/freedesktop/impl/portal/PermissionStore --method "
        "org.freedesktop.impl.portal.PermissionStore.DeletePermission gnome "
        "shortcuts-inhibitor " NUMERI_APP_ID ".desktop");
}

ShortcutsInhibitor::~ShortcutsInhibitor()
{
    if (m_inhibitor)
        zwp_keyboard_shortcuts_inhibitor_v1_destroy(m_inhibitor);
    if (m_manager)
        zwp_keyboard_shortcuts_inhibit_manager_v1_destroy(m_manager);
    if (m_listing)
        wl_callback_destroy(m_listing);
    if (m_registry)
        wl_registry_destroy(m_registry);
}

void ShortcutsInhibitor::global(
    void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    auto *self = static_cast<ShortcutsInhibitor *>(data);
    if (self->m_manager
        || std::strcmp(interface, zwp_keyboard_shortcuts_inhibit_manager_v1_interface.name) != 0)
        return;
    self->m_manager = static_cast<zwp_keyboard_shortcuts_inhibit_manager_v1 *>(
        wl_registry_bind(registry, name, &zwp_keyboard_shortcuts_inhibit_manager_v1_interface, 1));
}

void ShortcutsInhibitor::listed(void *data, wl_callback *callback, uint32_t)
{
    auto *self = static_cast<ShortcutsInhibitor *>(data);
    wl_callback_destroy(callback);
    self->m_listing = nullptr;
    if (!self->m_manager) {
        Q_EMIT self->changed(false,
            QStringLiteral("questo desktop non sa bloccare i suoi tasti (manca il protocollo "
                           "keyboard-shortcuts-inhibit): il gioco è a schermo intero, ma i tasti "
                           "del desktop funzionano"));
        return;
    }
    self->inhibit();
}

void ShortcutsInhibitor::inhibit()
{
    auto *surface = static_cast<wl_surface *>(nativeResource("surface", m_window));
    auto *seat = static_cast<wl_seat *>(nativeResource("wl_seat"));
    if (!surface || !seat)
        return;
    static const zwp_keyboard_shortcuts_inhibitor_v1_listener listener
        = { &ShortcutsInhibitor::active, &ShortcutsInhibitor::inactive };
    m_inhibitor
        = zwp_keyboard_shortcuts_inhibit_manager_v1_inhibit_shortcuts(m_manager, surface, seat);
    zwp_keyboard_shortcuts_inhibitor_v1_add_listener(m_inhibitor, &listener, this);
    wl_display_flush(static_cast<wl_display *>(nativeResource("wl_display")));
    m_unanswered.start();
    lookUpKeptRefusal();
}

void ShortcutsInhibitor::lookUpKeptRefusal()
{
    // GNOME Shell keeps its question's answer in the desktop portal's permission store, and
    // answers a kept refusal with silence: asking the store says it at once.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage lookup = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
        QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
        QStringLiteral("org.freedesktop.impl.portal.PermissionStore"), QStringLiteral("Lookup"));
    lookup << QStringLiteral("gnome") << QStringLiteral("shortcuts-inhibitor");
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(lookup), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        // No store, or no answer kept: the compositor's own answer, or its silence, tells.
        const QDBusMessage reply = w->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty() || m_answered)
            return;
        QMap<QString, QStringList> answers;
        reply.arguments().constFirst().value<QDBusArgument>() >> answers;
        // Kept under the desktop file's name; anything but a grant is a refusal to GNOME.
        const QStringList kept = answers.value(QStringLiteral(NUMERI_APP_ID ".desktop"));
        if (!kept.isEmpty() && kept.constFirst() != u"GRANTED") {
            m_unanswered.stop();
            Q_EMIT changed(false, notGranted());
        }
    });
}

void ShortcutsInhibitor::answered()
{
    m_answered = true;
    m_unanswered.stop();
}

void ShortcutsInhibitor::active(void *data, zwp_keyboard_shortcuts_inhibitor_v1 *)
{
    auto *self = static_cast<ShortcutsInhibitor *>(data);
    self->answered();
    Q_EMIT self->changed(true, QStringLiteral("tasti del desktop bloccati"));
}

void ShortcutsInhibitor::inactive(void *data, zwp_keyboard_shortcuts_inhibitor_v1 *)
{
    auto *self = static_cast<ShortcutsInhibitor *>(data);
    self->answered();
    Q_EMIT self->changed(false,
        QStringLiteral("il desktop non blocca più i suoi tasti (negato, o ridato dall'utente): "
                       "il gioco resta a schermo intero, ma i tasti del desktop funzionano"));
}

} // namespace lock
