#include "app/MessageBox.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>

#include <cstdlib>
#include <cstring>

namespace {

// The recorder that takes the boxes now; null: real boxes are shown.
MessageBoxRecorder* activeRecorder = nullptr;

// The icon bits of a style word; the button bits are always "OK only".
constexpr unsigned kIconMask = 0xF0;

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

// On X11 Qt writes the application's name where a window's title is empty,
// so an untitled box would read "velquint-tool" in its title bar. Qt writes
// the title properties when it creates the window and when the title
// changes, not when it shows the window: so the box's X window is made now
// and the two properties a window manager reads are emptied behind Qt.
void KeepX11TitleEmpty(QWidget* box) {
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

}  // namespace

QMessageBox* CreateMessageBox(const QString& text, const QString& title, unsigned style) {
    // Parented to the active window so that the box opens over it and Qt
    // gives the focus back to it when the box closes.
    auto* box = new QMessageBox(QApplication::activeWindow());
    box->setWindowModality(Qt::ApplicationModal);
    box->setWindowTitle(title);
    box->setText(text);
    box->setTextFormat(Qt::PlainText);
    box->setIcon((style & kIconMask) == MessageBoxStyle::IconError ? QMessageBox::Critical
                                                                   : QMessageBox::NoIcon);
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    box->setEscapeButton(QMessageBox::Ok);
    if (title.isEmpty()) {
        KeepX11TitleEmpty(box);
    }
    return box;
}

void ShowMessageBox(const QString& text, const QString& title, unsigned style) {
    if (activeRecorder != nullptr) {
        activeRecorder->boxes_.push_back({text, title, style});
        return;
    }
    // Not every platform hands the activation back to the window under a
    // closed box (the offscreen one does not, nor X11 without a window
    // manager), so the window and its focus are restored here.
    const QPointer<QWidget> previousWindow = QApplication::activeWindow();
    const QPointer<QWidget> previousFocus = QApplication::focusWidget();

    // The box may outlive its parent window if that closes while the box is
    // up; QPointer notices.
    QPointer<QMessageBox> box = CreateMessageBox(text, title, style);
    box->exec();
    delete box.data();

    if (previousWindow && previousWindow->isVisible()) {
        previousWindow->activateWindow();
        if (previousFocus && previousFocus->isVisible()) {
            previousFocus->setFocus(Qt::ActiveWindowFocusReason);
        }
    }
}

void ShowErrorBox(const char* text) {
    ShowMessageBox(QLatin1String(text), QStringLiteral("Error"), MessageBoxStyle::IconError);
}

MessageBoxRecorder::MessageBoxRecorder() : previous_(activeRecorder) {
    activeRecorder = this;
}

MessageBoxRecorder::~MessageBoxRecorder() {
    activeRecorder = previous_;
}
