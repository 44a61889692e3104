// The wake-up that the Set ID writers give and the engine's wait watches
// together with its socket: eventfd and poll() on Linux, a loopback socket
// and select() on Windows.
#include "platform/WakeUp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "channel/Tick.h"
#include "tests/support/TestLimits.h"

namespace {

constexpr int kNoLimit = -1;
constexpr int kShortMs = 50;

}  // namespace

TEST(WakeUp, SignalFromAnotherThreadEndsAWaitWithoutLimit) {
    WakeUp wake;
    ASSERT_TRUE(wake.ok());
    std::thread worker([&wake] {
        std::this_thread::sleep_for(std::chrono::milliseconds(kShortMs));
        wake.Signal();
    });
    const uint64_t start = TickMs();
    const WaitOutcome outcome = WaitReadableOrWoken(kNoSocket, &wake, kNoLimit);
    worker.join();
    EXPECT_TRUE(outcome.woken);
    EXPECT_FALSE(outcome.readable || outcome.failed);
    EXPECT_LT(TickMs() - start, kHangBoundMs);
}

TEST(WakeUp, SignalsWaitUntilClearedAndClearTakesAllBack) {
    WakeUp wake;
    wake.Signal();
    wake.Signal();
    EXPECT_TRUE(WaitReadableOrWoken(kNoSocket, &wake, 0).woken);
    EXPECT_TRUE(WaitReadableOrWoken(kNoSocket, &wake, 0).woken);
    wake.Clear();
    const WaitOutcome outcome = WaitReadableOrWoken(kNoSocket, &wake, kShortMs);
    EXPECT_FALSE(outcome.woken || outcome.readable || outcome.failed);
}

TEST(WakeUp, WaitTellsAReadableSocketApartFromTheWakeUp) {
    WakeUp wake;
    const SocketHandle udp = OpenUdpSocket();
    uint16_t port = 0;
    ASSERT_TRUE(BindSocket(udp, kLoopbackIp, 0) && LocalPort(udp, &port));
    const uint8_t byte = 7;
    ASSERT_EQ(SendDatagram(udp, &byte, 1, kLoopbackIp, port, 0), 1);

    const WaitOutcome outcome = WaitReadableOrWoken(udp, &wake, kHangBoundMs);
    EXPECT_TRUE(outcome.readable);
    EXPECT_FALSE(outcome.woken);
    CloseSocket(udp);
}
