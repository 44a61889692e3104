#include "tests/support/XSession.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>

#include <chrono>
#include <cstring>

namespace {

constexpr int kServerStartTimeoutMs = 10000;
const char* const kScreen = "1280x1024x24";

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

bool XvfbServer::Start(std::string& error) {
    // Xvfb picks a free display itself and writes its number on standard
    // output once it accepts clients.
    ChildOptions options;
    options.program = "/usr/bin/Xvfb";
    options.argv = {"Xvfb",  "-displayfd", "1",   "-screen", "0",
                    kScreen, "-nolisten",  "tcp", "-noreset"};
    options.pipeStdout = true;
    options.stderrPath = "/dev/null";
    options.name = "Xvfb";
    process_ = std::make_unique<ChildProcess>(options);
    std::string number;
    if (!process_->started() || !process_->WaitForLine(
                                    [&number](const std::string& line) {
                                        number = line;
                                        return !number.empty();
                                    },
                                    kServerStartTimeoutMs)) {
        error = "Xvfb did not report a display: " + process_->failure();
        return false;
    }
    display_ = ":" + number;
    return true;
}

XClient::~XClient() {
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

bool XClient::Open(const std::string& displayName) {
    display_ = XOpenDisplay(displayName.c_str());
    if (display_ == nullptr) {
        return false;
    }
    // A window may be gone by the time we ask about it (a box closed since
    // it was mapped). The call then fails and says so; Xlib's default
    // handler would end the test process instead.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    XSync(display_, False);
    return true;
}

std::string XClient::Title(unsigned long window) {
    return TextProperty(window, "_NET_WM_NAME").value_or(std::string());
}

std::optional<std::string> XClient::TextProperty(unsigned long window, const std::string& name) {
    constexpr long kMaxLongs = 1024;
    const Atom property = XInternAtom(display_, name.c_str(), False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::optional<std::string> value;
    if (XGetWindowProperty(display_, window, property, 0, kMaxLongs, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) == Success &&
        type != None && format == 8) {
        value = data != nullptr ? std::string(reinterpret_cast<char*>(data), count) : std::string();
    }
    if (data != nullptr) {
        XFree(data);
    }
    return value;
}

bool XClient::Viewable(unsigned long window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(display_, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

unsigned long XClient::WaitForMappedWindow(const std::string& title, int timeoutMs) {
    return WaitForMappedWindow(
        [this, &title](unsigned long window) { return Title(window) == title; }, timeoutMs);
}

unsigned long XClient::WaitForMappedWindow(const std::function<bool(unsigned long)>& wanted,
                                           int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Windows mapped before we looked would send no more events.
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i) {
            if (Viewable(children[i]) && wanted(children[i])) {
                const Window found = children[i];
                XFree(children);
                return found;
            }
        }
        if (children != nullptr) {
            XFree(children);
        }
    }
    for (;;) {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == MapNotify && Viewable(event.xmap.window) &&
                wanted(event.xmap.window)) {
                return event.xmap.window;
            }
        }
        pollfd connection{ConnectionNumber(display_), POLLIN, 0};
        if (MsLeft(deadline) == 0 || poll(&connection, 1, MsLeft(deadline)) < 0) {
            return 0;
        }
    }
}

WindowGeometry XClient::Geometry(unsigned long window) {
    WindowGeometry geometry;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, window, &attributes) == 0) {
        return geometry;
    }
    Window child = 0;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &geometry.x,
                          &geometry.y, &child);
    geometry.width = attributes.width;
    geometry.height = attributes.height;
    return geometry;
}

std::vector<uint32_t> XClient::Pixels(unsigned long window, const WindowGeometry& rectangle) {
    std::vector<uint32_t> pixels;
    XImage* image = XGetImage(display_, window, rectangle.x, rectangle.y,
                              static_cast<unsigned>(rectangle.width),
                              static_cast<unsigned>(rectangle.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return pixels;
    }
    // The colour channels as 8 bits each, wherever the visual keeps them.
    const auto channel = [](unsigned long pixel, unsigned long mask) {
        if (mask == 0) {
            return 0u;
        }
        while ((mask & 1) == 0) {
            mask >>= 1;
            pixel >>= 1;
        }
        return static_cast<unsigned>((pixel & mask) * 255 / mask);
    };
    for (int y = 0; y < rectangle.height; ++y) {
        for (int x = 0; x < rectangle.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            pixels.push_back(channel(pixel, image->red_mask) << 16 |
                             channel(pixel, image->green_mask) << 8 |
                             channel(pixel, image->blue_mask));
        }
    }
    XDestroyImage(image);
    return pixels;
}

std::vector<int> XClient::IconSizes(unsigned long window) {
    std::vector<int> sizes;
    const Atom netWmIcon = XInternAtom(display_, "_NET_WM_ICON", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    // Long enough for the nine sizes: 1 + 2 + ... + 256 squared, in longs.
    constexpr long kMaxLongs = 1L << 20;
    if (XGetWindowProperty(display_, window, netWmIcon, 0, kMaxLongs, False, XA_CARDINAL, &type,
                           &format, &count, &after, &data) == Success &&
        data != nullptr && format == 32) {
        // Xlib hands 32-bit items back as longs: width, height, pixels...
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        for (unsigned long i = 0; i + 2 <= count;) {
            const unsigned long width = items[i];
            const unsigned long height = items[i + 1];
            if (width != height || width == 0 || i + 2 + width * height > count) {
                break;
            }
            sizes.push_back(static_cast<int>(width));
            i += 2 + width * height;
        }
    }
    if (data != nullptr) {
        XFree(data);
    }
    return sizes;
}

int XClient::ViewableTopLevels() {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    int viewable = 0;
    if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i) {
            viewable += Viewable(children[i]) ? 1 : 0;
        }
        if (children != nullptr) {
            XFree(children);
        }
    }
    return viewable;
}

bool XClient::RequestClose(unsigned long window) {
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display_, window, False, NoEventMask, &event);
    XFlush(display_);
    return sent != 0;
}

bool XClient::ClickAt(int x, int y) {
    constexpr unsigned kLeftButton = 1;
    const int screen = DefaultScreen(display_);
    const bool done = XTestFakeMotionEvent(display_, screen, x, y, CurrentTime) != 0 &&
                      XTestFakeButtonEvent(display_, kLeftButton, True, CurrentTime) != 0 &&
                      XTestFakeButtonEvent(display_, kLeftButton, False, CurrentTime) != 0;
    XSync(display_, False);
    return done;
}

bool XClient::TypeText(const std::string& text) {
    for (char c : text) {
        const std::string name = c == '.' ? std::string("period") : std::string(1, c);
        const KeyCode key = XKeysymToKeycode(display_, XStringToKeysym(name.c_str()));
        if (key == 0 || XTestFakeKeyEvent(display_, key, True, CurrentTime) == 0 ||
            XTestFakeKeyEvent(display_, key, False, CurrentTime) == 0) {
            return false;
        }
    }
    XSync(display_, False);
    return true;
}
