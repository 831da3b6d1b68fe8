#include "lock/keyboardlock.h"

#include "lock/native.h"
#include "lock/shortcutsinhibitor.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <xcb/xcb.h>

namespace lock {

bool grabPointer(QWindow *window)
{
    xcb_connection_t *connection = x11();
    if (!connection)
        return false;
    const auto id = xcb_window_t(window->winId());
    // Owner events: the program's own windows, a box among them, get the pointer as usual.
    const uint16_t events = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE
        | XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_ENTER_WINDOW | XCB_EVENT_MASK_LEAVE_WINDOW;
    const xcb_grab_pointer_cookie_t asked = xcb_grab_pointer(connection, 1, id, events,
        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, id, XCB_NONE, XCB_CURRENT_TIME);
    xcb_grab_pointer_reply_t *reply = xcb_grab_pointer_reply(connection, asked, nullptr);
    const bool held = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    std::free(reply);
    return held;
}

void ungrabPointer()
{
    if (xcb_connection_t *connection = x11()) {
        xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);
        xcb_flush(connection);
    }
}

KeyboardLock::KeyboardLock(QWidget *window)
    : m_window(window)
    , m_x11(QGuiApplication::platformName() == u"xcb")
{
    m_retry.setInterval(250);
    connect(&m_retry, &QTimer::timeout, this, &KeyboardLock::grab);
    QCoreApplication::instance()->installEventFilter(this);
}

KeyboardLock::~KeyboardLock() = default;

bool KeyboardLock::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window->windowHandle())
        return false;
    if (event->type() == QEvent::Expose || event->type() == QEvent::Hide) {
        // After the event, when the window is as it says. A window made unviewable loses its
        // grabs: shown again, it takes them back.
        QMetaObject::invokeMethod(this, &KeyboardLock::grab, Qt::QueuedConnection);
    }
    return false;
}

void KeyboardLock::grab()
{
    QWindow *main = m_window->windowHandle();
    if (!main || !main->isExposed())
        return;
    if (!m_x11) {
        if (!m_inhibitor) {
            m_inhibitor = ShortcutsInhibitor::ask(main);
            if (!m_inhibitor) {
                tell(false,
                    QStringLiteral("questo desktop non permette di bloccare la tastiera: il gioco "
                                   "è a schermo intero, ma i tasti del desktop funzionano"));
                return;
            }
            connect(m_inhibitor.get(), &ShortcutsInhibitor::changed, this, &KeyboardLock::tell);
        }
        return;
    }
    // Both stay with the lesson's window for good. X gives the keys to whichever of the
    // program's windows has the focus, an open box too, and the box gets its clicks as well.
    const bool keys = main->setKeyboardGrabEnabled(true);
    const bool mouse = keys && grabPointer(main);
    if (keys && mouse) {
        m_retry.stop();
        // The grab sends every key here, but Qt gives them to the window X says has the focus,
        // which a window manager may have left with the program that held the grab before.
        if (!QGuiApplication::modalWindow() && !main->isActive())
            main->requestActivate();
        if (!m_holds)
            tell(true, QStringLiteral("tastiera e mouse bloccati"));
        return;
    }
    if (!m_saidRefused) {
        m_saidRefused = true;
        tell(false,
            QStringLiteral("un altro programma tiene la tastiera o il mouse: il blocco riprova "
                           "finché li lascia"));
    }
    m_retry.start();
}

void KeyboardLock::tell(bool holds, const QString &why)
{
    // Only what changes is worth a line: a grab taken again after each box is not news.
    if (holds == m_holds && holds)
        return;
    m_holds = holds;
    std::fprintf(stderr, "numeri: %s\n", qUtf8Printable(why));
    Q_EMIT changed(holds, why);
}

} // namespace lock
