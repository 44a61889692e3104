#include "app/EmptyTitle.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>

#include <cstdlib>
#include <cstring>

namespace {

const char* const kX11PlatformName = "xcb";

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr);
    xcb_atom_t atom = XCB_ATOM_NONE;
    if (reply != nullptr) {
        atom = reply->atom;
        std::free(reply);
    }
    return atom;
}

}  // namespace

// On X11 Qt writes the application's name where a window's title is empty,
// so an untitled box would read "velquint-tool" in its title bar. Qt writes
// the title properties when it creates the window and when the title
// changes, not when it shows the window: so the box's X window is made now
// and the two properties a window manager reads are emptied behind Qt.
void KeepTitleEmpty(QWidget* box) {
    if (QGuiApplication::platformName() != QLatin1String(kX11PlatformName)) {
        return;
    }
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) {
        return;
    }
    xcb_connection_t* const connection = x11->connection();
    const auto window = static_cast<xcb_window_t>(box->winId());
    const xcb_atom_t netWmName = InternAtom(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8String = InternAtom(connection, "UTF8_STRING");
    if (netWmName != XCB_ATOM_NONE && utf8String != XCB_ATOM_NONE) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, netWmName, utf8String, 8, 0,
                            nullptr);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(connection);
}
