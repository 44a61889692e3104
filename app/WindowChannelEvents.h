#pragma once

#include "channel/ChannelEvents.h"

class COM_Class;
class QEventLoop;

// Keeps the window live while the device channel waits for its peer: queued
// events run through Qt, and a wait for the socket is a nested event loop
// that a socket notifier or a single-shot timer wakes, so a wait costs
// nothing while nothing happens.
//
// A window that closes during a wait abandons it: the nested loop ends, and
// the channel's next turn finds its connection closed. The connection is
// closed from RunQueuedEvents, outside the nested loop, because the socket
// must not be closed while a notifier on it is alive.
class WindowChannelEvents : public ChannelEvents {
public:
    explicit WindowChannelEvents(COM_Class& channel) : channel_(channel) {}
    WindowChannelEvents(const WindowChannelEvents&) = delete;
    WindowChannelEvents& operator=(const WindowChannelEvents&) = delete;

    void RunQueuedEvents() override;
    void WaitReadable(SocketHandle socket, int timeoutMs) override;

    // The window is closing: the wait in progress (if any) ends at once, and
    // every later wait returns at once, until Resume.
    void Abandon();
    // A new exchange starts: its waits are real again.
    void Resume() { abandoned_ = false; }

private:
    COM_Class& channel_;
    bool abandoned_ = false;
    QEventLoop* wait_ = nullptr;  // the nested loop of the wait in progress
};
