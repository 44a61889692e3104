#pragma once

// Helpers to run the real tool as a separate process on a private X server
// and treat its window the way a window manager would: find it when it is
// mapped, read its properties and its pixels, and ask it to close. The window
// tests use it for what only the real tool shows (its exit code, its windows
// as X holds them), the start-up benchmark for its timing.

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// An Xvfb server of our own on a free display, stopped on destruction.
class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Starts the server and waits until it accepts clients; on failure
    // returns false and says why in `error`.
    bool Start(std::string& error);
    const std::string& DisplayName() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

struct SpawnOptions {
    std::string program;
    // The whole argument vector, argv[0] included; empty gives the program
    // an empty vector.
    std::vector<std::string> argv;
    // Variables to set (NAME=value); every other one is inherited except
    // those named in `unset`.
    std::vector<std::string> set;
    std::vector<std::string> unset;
    std::string stdoutPath = "/dev/null";
    std::string stderrPath = "/dev/null";
};

// Starts a process; returns its id, or -1.
pid_t SpawnProcess(const SpawnOptions& options);

struct ExitResult {
    bool exited = false;  // false: still running when the wait ended
    int status = 0;       // as from waitpid
    struct rusage usage {};
};

// Waits up to timeoutMs for the process to end and reaps it.
ExitResult WaitForExit(pid_t pid, int timeoutMs);

// Reaps a started process when it goes out of scope, killing it first if it
// still runs, so that a failing test leaves no process behind.
class ProcessReaper {
public:
    explicit ProcessReaper(pid_t pid) : pid_(pid) {}
    ~ProcessReaper();
    ProcessReaper(const ProcessReaper&) = delete;
    ProcessReaper& operator=(const ProcessReaper&) = delete;

private:
    pid_t pid_;
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
