#include "platform/WakeUp.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

WakeUp::WakeUp() : descriptor_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeUp::~WakeUp() {
    if (descriptor_ >= 0) {
        close(descriptor_);
    }
}

void WakeUp::Signal() {
    const uint64_t one = 1;
    if (write(descriptor_, &one, sizeof one) < 0) {
        // The counter is full only with 2^64 - 2 unread wake-ups.
    }
}

void WakeUp::Clear() {
    uint64_t count = 0;
    if (read(descriptor_, &count, sizeof count) < 0) {
        // Nothing signalled: nothing to take back.
    }
}

WaitOutcome WaitReadableOrWoken(SocketHandle socket, const WakeUp* wake, int timeoutMs) {
    // A descriptor of -1 is one poll() leaves out.
    pollfd entries[] = {{socket, POLLIN, 0},
                        {wake != nullptr ? wake->Descriptor() : -1, POLLIN, 0}};
    WaitOutcome outcome;
    if (poll(entries, 2, timeoutMs) < 0) {
        outcome.woken = errno == EINTR;
        outcome.failed = !outcome.woken;
        return outcome;
    }
    outcome.readable = entries[0].revents != 0;
    outcome.woken = entries[1].revents != 0;
    return outcome;
}
