#pragma once

#include <cstdlib>
#include <xcb/xcb.h>

namespace testkit {

// Another program on the same X server, which asks for the keyboard and the pointer and reads X's
// answer itself.
class OtherProgram
{
public:
    OtherProgram()
        : m_x(xcb_connect(nullptr, nullptr))
        , m_root(xcb_setup_roots_iterator(xcb_get_setup(m_x)).data->root)
    { }
    ~OtherProgram() { xcb_disconnect(m_x); }
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
    // Whether someone else holds the keyboard and the pointer: this program can have neither.
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
