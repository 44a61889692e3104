#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ChannelTestSupport.h"
#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/Tick.h"
#include "channel/Transport.h"
#include "idassign/DeviceId.h"
#include "setup/SetupDatagram.h"

using namespace channeltest;

namespace {

int LowestFreeDescriptor() {
    const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(probe);
    return probe;
}

// While it lives, the process cannot create any descriptor: a socket() call
// would fail, so an Open that answers with anything but "no socket" decided
// before it tried to create one.
class NoNewDescriptors {
public:
    NoNewDescriptors() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit tight = saved_;
        tight.rlim_cur = static_cast<rlim_t>(LowestFreeDescriptor());
        setrlimit(RLIMIT_NOFILE, &tight);
    }
    ~NoNewDescriptors() { setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    rlimit saved_{};
};

struct JoiningThread {
    std::thread thread;
    ~JoiningThread() {
        if (thread.joinable()) {
            thread.join();
        }
    }
};

void NoDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

const uint8_t kSetIdData[] = {5};
constexpr size_t kSetIdRequestLength = 14;

int SetId(COM_Class& channel, uint32_t timeoutMs) {
    return TransactDeviceId(channel, kSetIdData[0], nullptr, timeoutMs);
}

}  // namespace

// --- Open -------------------------------------------------------------------

// Set ID's host and a setup's addresses are read by one conversion: a text
// that a setup takes reaches the same address over TCP, and a text that a
// setup refuses is refused by Open before any socket exists. Every accepted
// text here names 127.0.0.1.
struct AddressTextCase {
    const char* text;
    bool accepted;
};

class AddressTextBothPaths : public testing::TestWithParam<AddressTextCase> {};

TEST_P(AddressTextBothPaths, SetupAndSetIdAgree) {
    const AddressTextCase& c = GetParam();
    SetupRequest request;
    const bool fits = CopyAddressText(request.NewIp, c.text);
    CopyAddressText(request.NewMask, "255.0.0.0");
    CopyAddressText(request.NewGateway, "127.0.0.1");
    uint8_t datagram[kSetupDatagramLength];
    EXPECT_EQ(fits && BuildSetupDatagram(request, datagram) == kSetupDatagramBuilt, c.accepted);

    TcpListener listener;
    COM_Class channel;
    PointAt(channel, c.text, listener.Port());
    if (c.accepted) {
        EXPECT_EQ(channel.Open(1000), kChannelOk);
        EXPECT_EQ(
            std::vector<uint8_t>(datagram + kSetupNewIpOffset, datagram + kSetupNewIpOffset + 4),
            (std::vector<uint8_t>{127, 0, 0, 1}));
        return;
    }
    NoNewDescriptors guard;
    EXPECT_EQ(channel.Open(1000), kTcpBadAddress);
    EXPECT_EQ(channel.SocketOpen, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AddressTextBothPaths,
    testing::Values(AddressTextCase{"127.0.0.1", true},
                    // What the classic conversion takes besides four decimal parts.
                    AddressTextCase{"127.0.0.1 ", true}, AddressTextCase{"127.1", true},
                    AddressTextCase{"0x7f.0.0.1", true}, AddressTextCase{"2130706433", true},
                    // 19 characters still fit the field.
                    AddressTextCase{"127.0.0.1          ", true},
                    // A part with a leading zero would be read as octal.
                    AddressTextCase{"127.000.000.001", false},
                    AddressTextCase{"192.168.001.010", false}, AddressTextCase{"127.0.0.01", false},
                    AddressTextCase{"255.255.255.255", false},
                    // 20 characters: no room for the terminating zero.
                    AddressTextCase{"127.0.0.1           ", false}, AddressTextCase{"", false},
                    AddressTextCase{"localhost", false}, AddressTextCase{"device.example", false},
                    AddressTextCase{" 127.0.0.1", false}, AddressTextCase{"256.0.0.1", false},
                    AddressTextCase{"127.0.0.1.5", false}));

TEST(TcpOpen, GuardReallyStopsSocketCreation) {
    COM_Class channel;
    PointAt(channel, "127.0.0.1", 9);
    NoNewDescriptors guard;
    EXPECT_EQ(kTcpNoSocket, channel.Open(1000));
}

TEST(TcpOpen, ConnectsToTheHostPortAndCloseReleasesTheSocket) {
    TcpListener listener;
    COM_Class channel;
    PointAt(channel, "127.0.0.1", listener.Port());
    ASSERT_EQ(kChannelOk, channel.Open(5000));
    EXPECT_EQ(1, channel.SocketOpen);
    EXPECT_GE(channel.Socket, 0);
    const int peer = listener.Accept();
    ASSERT_GE(peer, 0);

    channel.Close();
    EXPECT_EQ(0, channel.SocketOpen);
    EXPECT_EQ(-1, channel.Socket);
    EXPECT_TRUE(ReadExactly(peer, 1).empty()) << "the device sees the connection end";
    close(peer);
}

TEST(TcpOpen, RefusedConnectionIsAFailedAttempt) {
    // Bound but not listening: the port is held, and a connect is refused.
    const TcpListener holder = TcpListener::Refusing();
    ASSERT_TRUE(holder.ok());

    COM_Class channel;
    PointAt(channel, "127.0.0.1", holder.Port());
    const int lowest = LowestFreeDescriptor();
    EXPECT_EQ(kTcpConnectFailed, channel.Open(5000));
    EXPECT_EQ(0, channel.SocketOpen);
    EXPECT_EQ(-1, channel.Socket);
    EXPECT_EQ(lowest, LowestFreeDescriptor()) << "the socket of the failed attempt is closed";
}

TEST(TcpOpen, NoAnswerWithinTheLimit) {
    // A listener with a backlog of 0 takes one connection into its queue and
    // then drops further SYNs until someone accepts (Linux answers neither
    // yes nor no, and the client retries only after a second): a device that
    // does not answer, reliably, on loopback.
    TcpListener listener(0);
    COM_Class filler;
    PointAt(filler, "127.0.0.1", listener.Port());
    ASSERT_EQ(kChannelOk, filler.Open(5000));

    COM_Class channel;
    PointAt(channel, "127.0.0.1", listener.Port());
    const int lowest = LowestFreeDescriptor();
    const uint64_t start = TickMs();
    EXPECT_EQ(kTcpConnectTimeout, channel.Open(200));
    EXPECT_GE(TickMs() - start, 200u);
    EXPECT_EQ(0, channel.SocketOpen);
    EXPECT_EQ(lowest, LowestFreeDescriptor());
}

TEST(TcpOpen, OpeningAnOpenChannelLetsGoOfTheFirstConnection) {
    TcpListener listener;
    COM_Class channel;
    PointAt(channel, "127.0.0.1", listener.Port());
    ASSERT_EQ(kChannelOk, channel.Open(5000));
    const int first = listener.Accept();
    const int firstSocket = channel.Socket;
    ASSERT_EQ(kChannelOk, channel.Open(5000));
    const int second = listener.Accept();
    EXPECT_TRUE(ReadExactly(first, 1).empty()) << "first connection closed";
    // Descriptors are handed out lowest first: getting the same number back
    // shows that the first one was released, not leaked.
    EXPECT_EQ(firstSocket, channel.Socket);
    close(first);
    close(second);
}

TEST(TcpOpen, DestructionClosesTheSocket) {
    TcpListener listener;
    int peer = -1;
    {
        COM_Class channel;
        PointAt(channel, "127.0.0.1", listener.Port());
        ASSERT_EQ(kChannelOk, channel.Open(5000));
        peer = listener.Accept();
    }
    EXPECT_TRUE(ReadExactly(peer, 1).empty());
    close(peer);
}

// --- Drain ------------------------------------------------------------------

TEST(TcpDrain, LeftoverBytesNeverReachTheParser) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    // A stale reply that would fail the transaction (wrong address) if parsed,
    // and more of them than one receive call takes.
    Bytes stale;
    while (stale.size() < 30000) {
        stale = Concat(stale, ReplyFrame(Reply().WithAddress(2)));
    }
    ASSERT_TRUE(SendAll(link.peer, stale));
    size_t waiting = 0;
    while (waiting < stale.size() && WaitFor(link.channel.Socket, kSocketReadable, 5000)) {
        int count = 0;
        ioctl(link.channel.Socket, FIONREAD, &count);
        waiting = static_cast<size_t>(count);
        if (waiting < stale.size()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_EQ(stale.size(), waiting);

    AnsweringEvents device(link.peer, kSetIdRequestLength, Answer(Reply()));
    link.channel.Events = &device;
    EXPECT_EQ(1, SetId(link.channel, 3000));
    EXPECT_EQ(kSetIdRequestLength, device.request.size());
}

TEST(TcpDrain, NothingWaitingIsDrained) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    EXPECT_EQ(kChannelOk, kTcpTransport.drain(link.channel, 3000));
}

TEST(TcpDrain, PeerThatClosedFailsTheTransactionBeforeTheSend) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    close(link.peer);
    link.peer = -1;
    ASSERT_TRUE(WaitFor(link.channel.Socket, kSocketReadable, 5000));
    EXPECT_EQ(kPeerClosed, SetId(link.channel, 3000));
    EXPECT_EQ(1, link.channel.SocketOpen) << "a failure leaves closing to the caller";
}

// --- Send -------------------------------------------------------------------

// Shrinks the buffers between channel and device (which also stops Linux from
// growing them) and fills them, so that a frame can go out only as the device
// reads.
void FillTheWayToTheDevice(LoopbackChannel& link) {
    const int small = 4096;
    setsockopt(link.channel.Socket, SOL_SOCKET, SO_SNDBUF, &small, sizeof(small));
    setsockopt(link.peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    // The receiving side compacts its queue now and then and opens room
    // again, so fill until the socket stays unwritable for a while.
    const Bytes chunk(512, 0x00);
    for (int round = 0; round < 100; ++round) {
        while (send(link.channel.Socket, chunk.data(), chunk.size(), MSG_DONTWAIT) > 0) {
        }
        if (!WaitFor(link.channel.Socket, kSocketWritable, 50)) {
            return;
        }
    }
}

TEST(TcpSend, WholeFrameReachesAPeerThatReadsSlowly) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    FillTheWayToTheDevice(link);
    Bytes frame(4100);
    for (size_t n = 0; n < frame.size(); ++n) {
        frame[n] = static_cast<uint8_t>(n % 251 + 1);
    }

    std::atomic<bool> done{false};
    Bytes received;
    JoiningThread reader{std::thread([&] {
        uint8_t piece[512];
        while (WaitFor(link.peer, kSocketReadable, 5000)) {
            const ssize_t n = recv(link.peer, piece, sizeof(piece), 0);
            if (n <= 0) {
                break;
            }
            received.insert(received.end(), piece, piece + n);
            if (done && received.size() >= frame.size() &&
                std::search(received.end() - frame.size(), received.end(), frame.begin(),
                            frame.end()) != received.end()) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    })};
    EXPECT_EQ(kChannelOk, kTcpTransport.send(link.channel, frame.data(), frame.size(), 20000));
    done = true;
    reader.thread.join();
    ASSERT_GE(received.size(), frame.size());
    EXPECT_EQ(frame, Bytes(received.end() - frame.size(), received.end()));
    EXPECT_EQ(0x00, received[0]);
}

TEST(TcpSend, PeerThatNeverReadsEndsTheSendAfterTheLimit) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    FillTheWayToTheDevice(link);
    const Bytes frame(4100, 0x19);
    const uint64_t start = TickMs();
    EXPECT_EQ(kReceiveTimeout, kTcpTransport.send(link.channel, frame.data(), frame.size(), 200));
    EXPECT_GE(TickMs() - start, 200u);
}

TEST(TcpSend, ClosedPeerIsASocketErrorNotASignal) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    close(link.peer);
    link.peer = -1;
    const Bytes frame(14, 0x19);
    int result = kChannelOk;
    for (int attempt = 0; attempt < 100 && result == kChannelOk; ++attempt) {
        result = kTcpTransport.send(link.channel, frame.data(), frame.size(), 1000);
        WaitFor(link.channel.Socket, kSocketFailed, 10);
    }
    EXPECT_EQ(kSocketError, result);
}

// --- Receive ------------------------------------------------------------------

TEST(TcpReceive, ReplyInOnePieceWithoutAWindow) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    JoiningThread device{std::thread([&] {
        const Bytes request = ReadExactly(link.peer, kSetIdRequestLength);
        if (request.size() == kSetIdRequestLength) {
            SendAll(link.peer, ReplyFrame(Reply().WithSequence(request[1])));
        }
    })};
    EXPECT_EQ(1, SetId(link.channel, 3000));
    EXPECT_EQ(5, link.channel.ReplyData[0]);
}

TEST(TcpReceive, ReplyByteByByteWithPausesLongerInTotalThanTheLimit) {
    // Every byte inside a frame restarts the clock, so a reply that trickles in
    // slower than the limit as a whole, but never pauses that long, succeeds.
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    NoDelay(link.peer);
    JoiningThread device{std::thread([&] {
        const Bytes request = ReadExactly(link.peer, kSetIdRequestLength);
        if (request.size() != kSetIdRequestLength) {
            return;
        }
        for (uint8_t byte : ReplyFrame(Reply().WithSequence(request[1]))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            SendAll(link.peer, Bytes{byte});
        }
    })};
    EXPECT_EQ(1, SetId(link.channel, 1000));
}

TEST(TcpReceive, TrickleOfNonMarkerBytesTimesOut) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    NoDelay(link.peer);
    std::atomic<bool> stop{false};
    JoiningThread device{std::thread([&] {
        ReadExactly(link.peer, kSetIdRequestLength);
        while (!stop) {
            SendAll(link.peer, Bytes{0x55});
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    })};
    const uint64_t start = TickMs();
    EXPECT_EQ(kReceiveTimeout, SetId(link.channel, 300));
    EXPECT_GE(TickMs() - start, 300u);
    stop = true;
}

TEST(TcpReceive, PeerClosingMidReplyIsPeerClosed) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    JoiningThread device{std::thread([&] {
        const Bytes request = ReadExactly(link.peer, kSetIdRequestLength);
        const Bytes reply = ReplyFrame(Reply().WithSequence(request.size() > 1 ? request[1] : 0));
        SendAll(link.peer, Bytes(reply.begin(), reply.begin() + 6));
        shutdown(link.peer, SHUT_WR);
    })};
    EXPECT_EQ(kPeerClosed, SetId(link.channel, 3000));
}

TEST(TcpReceive, FirstFailureEndsTheTransaction) {
    // A wrong address in the first frame fails even though a good frame follows
    // in the same read.
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    AnsweringEvents device(link.peer, kSetIdRequestLength, [](const Bytes& request) {
        return Concat(Concat(Bytes{0x00, 0x03, 0x55},
                             ReplyFrame(Reply().WithAddress(9).WithSequence(request[1]))),
                      ReplyFrame(Reply().WithSequence(request[1])));
    });
    link.channel.Events = &device;
    EXPECT_EQ(kReplyWrongAddress, SetId(link.channel, 3000));
}

// --- Receive with the window's hook ------------------------------------------------

TEST(TcpReceiveEvents, QueuedEventsRunWhileTheReplyIsAwaited) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    AnsweringEvents device(link.peer, kSetIdRequestLength, Answer(Reply()));
    link.channel.Events = &device;
    EXPECT_EQ(1, SetId(link.channel, 3000));
    EXPECT_GE(device.runs, 2) << "once after the send, and in the receive loop";
}

TEST(TcpReceiveEvents, SilentDeviceIsAwaitedOnTheSocketNotBySpinning) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    AnsweringEvents device(link.peer, kSetIdRequestLength, [](const Bytes&) { return Bytes{}; });
    link.channel.Events = &device;
    const uint64_t start = TickMs();
    EXPECT_EQ(kReceiveTimeout, SetId(link.channel, 300));
    EXPECT_GE(TickMs() - start, 300u);
    // A loop of 1 ms sleeps would wake about 300 times here.
    EXPECT_LE(device.waits, 10);
    EXPECT_LE(device.runs, 12);
}

class ClosingEvents : public ChannelEvents {
public:
    explicit ClosingEvents(COM_Class& channel) : channel_(channel) {}
    void RunQueuedEvents() override {
        if (++runs_ == 2) {
            channel_.Close();  // a handler that ran meanwhile let go of the channel
        }
    }
    void WaitReadable(SocketHandle fd, int timeoutMs) override {
        WaitFor(fd, kSocketReadable, timeoutMs);
    }

private:
    COM_Class& channel_;
    int runs_ = 0;
};

TEST(TcpReceiveEvents, ChannelClosedByAHandlerEndsTheWait) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    ClosingEvents events(link.channel);
    link.channel.Events = &events;
    EXPECT_EQ(kSocketError, SetId(link.channel, 3000));
    EXPECT_EQ(0, link.channel.SocketOpen);
}
