#pragma once

#include <QGuiApplication>
#include <qpa/qplatformnativeinterface.h>

class QWindow;
struct xcb_connection_t;

namespace lock {

// What Qt's platform plugin holds by NAME ("connection" on X11; "wl_display", "wl_seat" and a
// window's "surface" on Wayland), for WINDOW or for the whole program; nullptr where it has none.
// Qt 6.4 offers them only through this private interface, as KDE's libraries take them.
inline void *nativeResource(const char *name, QWindow *window = nullptr)
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    if (!native)
        return nullptr;
    return window ? native->nativeResourceForWindow(name, window)
                  : native->nativeResourceForIntegration(name);
}

// The connection to the X server that Qt's xcb plugin holds; nullptr on any other platform.
inline xcb_connection_t *x11()
{
    if (QGuiApplication::platformName() != u"xcb")
        return nullptr;
    return static_cast<xcb_connection_t *>(nativeResource("connection"));
}

} // namespace lock
