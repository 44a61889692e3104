#pragma once

// Helpers to run the real tool as a separate process (a ChildProcess) on a
// private X server and treat its window the way a window manager would: find
// it when it is mapped, read its properties and its pixels, and ask it to
// close. The window tests use it for what only the real tool shows (its exit
// code, its windows as X holds them), the start-up benchmark for its timing.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

// The title of the tool's window, by which a session finds it.
constexpr char kToolCaption[] = "Velquint Tool  V1.06";

// An Xvfb server of our own on a free display, stopped on destruction.
class XvfbServer {
public:
    XvfbServer() = default;
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Starts the server and waits until it accepts clients; on failure
    // returns false and says why in `error`.
    bool Start(std::string& error);
    const std::string& DisplayName() const { return display_; }

private:
    std::unique_ptr<ChildProcess> process_;
    std::string display_;
};

struct WindowGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// One client connection to an X server.
class XClient {
public:
    XClient() = default;
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    // Connects and starts watching the root window for new top-level windows;
    // do this before starting the program whose window is awaited.
    bool Open(const std::string& displayName);

    // Waits until a top-level window for which `wanted` holds is mapped;
    // returns its id or 0 when timeoutMs passes first.
    unsigned long WaitForMappedWindow(const std::function<bool(unsigned long)>& wanted,
                                      int timeoutMs);
    // The same for a window titled `title`.
    unsigned long WaitForMappedWindow(const std::string& title, int timeoutMs);

    WindowGeometry Geometry(unsigned long window);
    // The window's title as a window manager shows it (_NET_WM_NAME).
    std::string Title(unsigned long window);
    // A text property (WM_NAME, _NET_WM_NAME, ...) as the X server holds it,
    // whatever its encoding; nothing when the window has no such property.
    std::optional<std::string> TextProperty(unsigned long window, const std::string& name);
    // The colours (0xRRGGBB) of a rectangle of the window as it is on screen,
    // row by row; empty when they cannot be read.
    std::vector<uint32_t> Pixels(unsigned long window, const WindowGeometry& rectangle);
    // The sizes (square side in pixels) of the icons in _NET_WM_ICON.
    std::vector<int> IconSizes(unsigned long window);
    // Counts the viewable top-level windows.
    int ViewableTopLevels();
    // Sends WM_DELETE_WINDOW, as a window manager does for the title bar's
    // close button.
    bool RequestClose(unsigned long window);

    // Input as the operator gives it (XTEST extension): a left click at a
    // point of the screen, and text typed key by key where the keyboard
    // focus is. Only digits, letters and full stops can be typed.
    bool ClickAt(int x, int y);
    bool TypeText(const std::string& text);

private:
    bool Viewable(unsigned long window);

    struct _XDisplay* display_ = nullptr;
};
