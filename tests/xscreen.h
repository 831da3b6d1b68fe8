#pragma once

#include <QApplication>
#include <QImage>
#include <QList>
#include <QPalette>
#include <QProcess>
#include <QRect>
#include <cstdlib>
#include <xcb/xcb.h>

namespace testkit {

// An X server of the test's own, started by SERVER's COMMAND on a display it finds free: that
// display's name once it takes connections, or an empty one.
inline QByteArray startX(QProcess &server, QStringList command)
{
    const QString program = command.takeFirst();
    server.start(program, command << QStringLiteral("-displayfd") << QStringLiteral("1"));
    QByteArray number;
    while (!number.endsWith('\n') && server.waitForReadyRead(10000))
        number += server.readAllStandardOutput();
    return number.isEmpty() ? QByteArray() : ':' + number.trimmed();
}

// The X server of DISPLAY as someone in front of it finds it, or another program on it: what the
// screen shows, which windows stand on it, in their order from the bottom up, and whether the
// keyboard and the pointer can be had.
class XScreen
{
public:
    // DISPLAY's, or that named.
    explicit XScreen(const char *display = nullptr)
        : m_x(xcb_connect(display, nullptr))
        , m_root(xcb_setup_roots_iterator(xcb_get_setup(m_x)).data->root)
    { }
    ~XScreen() { xcb_disconnect(m_x); }

    QRect geometryOf(xcb_window_t window) const
    {
        xcb_get_geometry_reply_t *g
            = xcb_get_geometry_reply(m_x, xcb_get_geometry(m_x, window), nullptr);
        const QRect rect = g ? QRect(g->x, g->y, g->width, g->height) : QRect();
        std::free(g);
        return rect;
    }
    QSize size() const { return geometryOf(m_root).size(); }

    // The whole screen, as 32-bit pixels (the tests' servers are 24 bits deep).
    QImage shot() const
    {
        const QSize s = size();
        xcb_get_image_reply_t *image = xcb_get_image_reply(m_x,
            xcb_get_image(m_x, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, 0, 0, s.width(), s.height(), ~0u),
            nullptr);
        if (!image)
            return {};
        const QImage copy
            = QImage(xcb_get_image_data(image), s.width(), s.height(), QImage::Format_RGB32).copy();
        std::free(image);
        return copy;
    }

    // Whether a message box shows in the middle of the screen, where the lesson's form is: most of
    // a band there has a box's own colour, which nothing else in the lesson has.
    bool boxInMiddle() const
    {
        const QImage s = shot();
        const QRect band(s.width() / 2 - 100, s.height() / 2 - 20, 200, 40);
        const QRgb box = QApplication::palette().color(QPalette::Window).rgb();
        int found = 0;
        for (int y = band.top(); y <= band.bottom(); ++y)
            for (int x = band.left(); x <= band.right(); ++x)
                found += (s.pixel(x, y) & 0xffffff) == (box & 0xffffff);
        return found * 2 > band.width() * band.height();
    }

    // The windows that stand on the screen, shown, from the bottom up: each program's own, or the
    // frame its window manager put around it.
    QList<xcb_window_t> shownTopLevels() const
    {
        QList<xcb_window_t> shown;
        xcb_query_tree_reply_t *tree
            = xcb_query_tree_reply(m_x, xcb_query_tree(m_x, m_root), nullptr);
        if (!tree)
            return shown;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            xcb_get_window_attributes_reply_t *a = xcb_get_window_attributes_reply(
                m_x, xcb_get_window_attributes(m_x, children[i]), nullptr);
            if (a && a->map_state == XCB_MAP_STATE_VIEWABLE)
                shown << children[i];
            std::free(a);
        }
        std::free(tree);
        return shown;
    }

    // The window on the root that holds WINDOW: its frame, or itself.
    xcb_window_t topLevelOf(xcb_window_t window) const
    {
        for (;;) {
            xcb_query_tree_reply_t *tree
                = xcb_query_tree_reply(m_x, xcb_query_tree(m_x, window), nullptr);
            if (!tree)
                return XCB_NONE;
            const xcb_window_t parent = tree->parent;
            std::free(tree);
            if (parent == m_root || parent == XCB_NONE)
                return window;
            window = parent;
        }
    }

    bool grabKeyboard()
    {
        return held(xcb_grab_keyboard_reply(m_x,
            xcb_grab_keyboard(
                m_x, 1, m_root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr));
    }
    bool grabPointer()
    {
        return held(xcb_grab_pointer_reply(m_x,
            xcb_grab_pointer(m_x, 1, m_root, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE,
                XCB_NONE, XCB_CURRENT_TIME),
            nullptr));
    }
    void letGoOfKeyboard() { xcb_ungrab_keyboard(m_x, XCB_CURRENT_TIME), xcb_flush(m_x); }
    void letGoOfPointer() { xcb_ungrab_pointer(m_x, XCB_CURRENT_TIME), xcb_flush(m_x); }
    // Whether someone else holds the keyboard and the pointer: this client can have neither.
    bool lockedOut()
    {
        const bool keys = grabKeyboard(), pointer = grabPointer();
        letGoOfKeyboard();
        letGoOfPointer();
        return !keys && !pointer;
    }

private:
    template<typename Reply> static bool held(Reply *reply)
    {
        const bool ok = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(reply);
        return ok;
    }
    xcb_connection_t *m_x;
    xcb_window_t m_root;
};

} // namespace testkit
