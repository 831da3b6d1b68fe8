#include "lock/keepabove.h"

#include "lock/native.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <xcb/xcb.h>

namespace lock {

namespace {
xcb_window_t rootOf(xcb_connection_t *x)
{
    return xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
}

// The window on the root that holds WINDOW: the frame a window manager put around it, or itself.
xcb_window_t topLevelOf(xcb_connection_t *x, xcb_window_t window)
{
    const xcb_window_t root = rootOf(x);
    for (;;) {
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(x, xcb_query_tree(x, window), nullptr);
        if (!tree)
            return XCB_NONE;
        const xcb_window_t parent = tree->parent;
        std::free(tree);
        if (parent == root || parent == XCB_NONE)
            return window;
        window = parent;
    }
}
} // namespace

KeepAbove::KeepAbove(QWidget *window)
    : m_window(window)
{
    if (!x11())
        return;
    // Qt says it with _NET_WM_STATE_ABOVE, which window managers keep in a layer of its own.
    window->setWindowFlag(Qt::WindowStaysOnTopHint);
    if (watchRoot())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

KeepAbove::~KeepAbove() = default;

bool KeepAbove::watchRoot()
{
    xcb_connection_t *x = x11();
    const xcb_window_t root = rootOf(x);
    // Each program has its own events on the root: Qt's are kept, and the windows mapped on the
    // root added to them.
    xcb_get_window_attributes_reply_t *now
        = xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, root), nullptr);
    if (!now) {
        refused("gli eventi dello schermo non si leggono");
        return false;
    }
    const uint32_t mask = now->your_event_mask | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    std::free(now);
    if (xcb_generic_error_t *error = xcb_request_check(
            x, xcb_change_window_attributes_checked(x, root, XCB_CW_EVENT_MASK, &mask))) {
        std::free(error);
        refused("gli eventi dello schermo non si leggono");
        return false;
    }
    return true;
}

bool KeepAbove::nativeEventFilter(const QByteArray &type, void *message, qintptr *)
{
    if (type != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY)
        return false;
    const auto *mapped = static_cast<const xcb_map_notify_event_t *>(message);
    xcb_connection_t *x = x11();
    if (!x || mapped->event != rootOf(x) || !m_window->isVisible())
        return false;
    if (mapped->window != topLevelOf(x, xcb_window_t(m_window->winId())))
        raise();
    return false; // Qt has its own business with a map
}

void KeepAbove::raise()
{
    xcb_connection_t *x = x11();
    // On a bare X server the window itself is restacked; a window manager is sent the request
    // instead, and grants it within the layers it keeps.
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    if (xcb_generic_error_t *error = xcb_request_check(x,
            xcb_configure_window_checked(
                x, xcb_window_t(m_window->winId()), XCB_CONFIG_WINDOW_STACK_MODE, &above))) {
        std::free(error);
        refused("la finestra non torna sopra le altre");
    }
}

void KeepAbove::refused(const char *what)
{
    if (m_saidRefused)
        return;
    m_saidRefused = true;
    std::fprintf(stderr, "numeri: %s: un'altra finestra potrà coprire il gioco\n", what);
}

} // namespace lock
