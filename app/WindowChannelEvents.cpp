#include "app/WindowChannelEvents.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <utility>

#include "channel/COM_Class.h"
#include "channel/Tick.h"
#include "platform/Sockets.h"

void WindowChannelEvents::RunQueuedEvents() {
    QCoreApplication::processEvents();
    // Also when the window closed just now, inside processEvents.
    if (abandoned_) {
        channel_.Close();
    }
}

void WindowChannelEvents::WaitReadable(SocketHandle socket, int timeoutMs) {
    if (abandoned_) {
        return;
    }
    const uint64_t start = TickMs();
    QEventLoop loop;
    bool woken = false;
    const auto wake = [&woken, &loop] {
        woken = true;
        loop.quit();
    };
    // The notifier fires for as long as the socket stays readable. A handler
    // that runs inside this wait may hold the thread in a loop of its own (a
    // modal box waiting for the operator), where our quit has no effect until
    // that loop ends; a notifier left on would fire again and again in there.
    // One wake-up is all this wait needs.
    QSocketNotifier readable(static_cast<qintptr>(socket), QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &loop, [&readable, &wake] {
        readable.setEnabled(false);
        wake();
    });
    // A coarse timer may fire up to 5% early, which would cost the channel a
    // second wait for the rest.
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    QObject::connect(&limit, &QTimer::timeout, &loop, wake);
    limit.start(timeoutMs);

    QEventLoop* const outer = std::exchange(wait_, &loop);
    loop.exec();
    wait_ = outer;
    if (woken || abandoned_) {
        return;
    }
    // Once the application has been told to quit, every new event loop ends
    // at once; the rest of this wait is spent on the socket alone rather than
    // in a busy loop until the time-out.
    const uint64_t elapsed = TickMs() - start;
    if (elapsed < static_cast<uint64_t>(timeoutMs)) {
        WaitSocket(socket, kSocketReadable,
                   static_cast<int>(static_cast<uint64_t>(timeoutMs) - elapsed));
    }
}

void WindowChannelEvents::Abandon() {
    abandoned_ = true;
    if (wait_ != nullptr) {
        wait_->quit();
    }
}
