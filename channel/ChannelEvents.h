#pragma once

#include "platform/Sockets.h"

// The device channel waits for its TCP peer on the window's thread. While it
// waits, the window must stay live (repaint, timer, other buttons), so the
// channel asks its owner to run queued window events through this hook. The
// channel owns the shape of the hook; the window fills it with Qt. Without a
// hook the channel waits for the socket alone and runs nothing else.
class ChannelEvents {
public:
    virtual ~ChannelEvents() = default;

    // Runs the window events that are queued now, then returns.
    virtual void RunQueuedEvents() = 0;

    // Returns when `socket` is readable or `timeoutMs` milliseconds have
    // passed, whichever comes first, running window events meanwhile. A
    // wake-up for another reason is harmless: the caller tests the socket
    // again.
    virtual void WaitReadable(SocketHandle socket, int timeoutMs) = 0;
};
