#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "channel/COM_Class.h"
#include "channel/ReplyParser.h"
#include "channel/Tick.h"
#include "channel/Transport.h"
#include "channel/TransportSerial.h"
#include "idassign/DeviceId.h"
#include "tests/support/TestFrames.h"
#include "tests/support/TestLimits.h"

namespace {

using test_frames::ReplyFrame;
using test_frames::SetIdReply;

// The serial send waits for no reply, so the transaction's time-out is moot.
constexpr uint32_t kUnusedTimeoutMs = 3000;

void SetPortName(COM_Class& channel, const std::string& name) {
    ASSERT_LT(name.size(), sizeof channel.PortName);
    std::memset(channel.PortName, 0, sizeof channel.PortName);
    std::memcpy(channel.PortName, name.data(), name.size());
}

// A pseudo-terminal pair: the channel opens the terminal side by name, the
// test plays the device on the other side.
class PtyDevice {
public:
    PtyDevice() {
        char name[64] = {};
        if (openpty(&device_, &terminal_, name, nullptr, nullptr) == 0) {
            portName_ = std::string(name).substr(std::strlen("/dev/"));
        }
    }
    ~PtyDevice() {
        if (device_ >= 0) {
            close(device_);
        }
        if (terminal_ >= 0) {
            close(terminal_);
        }
    }
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    bool ok() const { return device_ >= 0 && terminal_ >= 0 && !portName_.empty(); }
    const std::string& portName() const { return portName_; }

    termios TerminalSettings() const {
        termios settings{};
        tcgetattr(terminal_, &settings);
        return settings;
    }
    void SetTerminalSettings(const termios& settings) { tcsetattr(terminal_, TCSANOW, &settings); }

    void Write(const std::vector<uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(device_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                return;
            }
            done += static_cast<std::size_t>(n);
        }
    }

    // What the channel wrote, up to `count` bytes.
    std::vector<uint8_t> Read(std::size_t count) {
        std::vector<uint8_t> bytes;
        const uint64_t start = TickMs();
        while (bytes.size() < count && !TimeoutPassed(start, TickMs(), kHangBoundMs)) {
            pollfd readable{device_, POLLIN, 0};
            if (poll(&readable, 1, 50) <= 0) {
                continue;
            }
            uint8_t chunk[512];
            const std::size_t want = std::min(sizeof chunk, count - bytes.size());
            const ssize_t n = read(device_, chunk, want);
            if (n <= 0) {
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    // Waits until the terminal side reports `count` bytes waiting; the pty
    // hands bytes over asynchronously.
    bool WaitUntilWaiting(int count) const {
        const uint64_t start = TickMs();
        int waiting = -1;
        while (!TimeoutPassed(start, TickMs(), kHangBoundMs)) {
            if (ioctl(terminal_, FIONREAD, &waiting) == 0 && waiting == count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    // Writes zeros as fast as the terminal side takes them, for `ms` or until
    // `stop` is set.
    void Flood(int ms, const std::atomic<bool>& stop) {
        const std::vector<uint8_t> zeros(1024, 0);
        // Never blocked in a write once the channel has stopped reading.
        const int flags = fcntl(device_, F_GETFL);
        fcntl(device_, F_SETFL, flags | O_NONBLOCK);
        const uint64_t start = TickMs();
        while (!stop && !TimeoutPassed(start, TickMs(), static_cast<uint32_t>(ms))) {
            pollfd writable{device_, POLLOUT, 0};
            if (poll(&writable, 1, 10) > 0 && write(device_, zeros.data(), zeros.size()) < 0) {
                continue;
            }
        }
        fcntl(device_, F_SETFL, flags);
    }

    int WaitingNow() const {
        int waiting = -1;
        ioctl(terminal_, FIONREAD, &waiting);
        return waiting;
    }

private:
    int device_ = -1;
    int terminal_ = -1;
    std::string portName_;
};

class SerialTransport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok()) << "openpty failed";
        SetPortName(channel_, pty_.portName());
        channel_.Kind = TransportKind::Serial;
        channel_.BaudRate = 115200;
    }

    // A receive as Transact runs it after a Set ID request with sequence 1.
    int Receive(uint32_t timeoutMs) {
        channel_.SentAddress = 1;
        channel_.SentSequence = 1;
        ReplyParser parser(channel_);
        return ReceiveReply(channel_, kSerialTransport, parser, timeoutMs);
    }

    PtyDevice pty_;
    COM_Class channel_;
};

// ---- port names --------------------------------------------------------

TEST(SerialDevicePath, MapsPortNames) {
    struct Case {
        const char* name;
        const char* path;
    };
    const Case cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM2", "/dev/ttyS1"},
        {"COM10", "/dev/ttyS9"},
        {"com3", "/dev/ttyS2"},
        {"COM0", "/dev/COM0"},
        {"COM", "/dev/COM"},
        {"COMX", "/dev/COMX"},
        {"COM1A", "/dev/COM1A"},
        {"COM-1", "/dev/COM-1"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"ttyACM0", "/dev/ttyACM0"},
        {"pts/3", "/dev/pts/3"},
        {"", "/dev/"},
    };
    for (const Case& c : cases) {
        char field[kPortNameSize] = {};
        std::strncpy(field, c.name, sizeof field - 1);
        std::string path;
        EXPECT_TRUE(SerialDevicePath(field, sizeof field, &path)) << c.name;
        EXPECT_EQ(path, c.path) << c.name;
    }
}

TEST(SerialDevicePath, RefusesANameWithoutRoomForItsTerminator) {
    char full[kPortNameSize];
    std::memset(full, 'A', sizeof full);
    std::string path = "untouched";
    EXPECT_FALSE(SerialDevicePath(full, sizeof full, &path));
    EXPECT_EQ(path, "untouched");

    char longest[kPortNameSize] = "ttyUSB12345";  // 11 characters and the zero
    EXPECT_TRUE(SerialDevicePath(longest, sizeof longest, &path));
    EXPECT_EQ(path, "/dev/ttyUSB12345");
}

// ---- open and close ----------------------------------------------------

TEST_F(SerialTransport, OpenAppliesEightNoneOneAtTheRateAndKeepsFlowControl) {
    termios before = pty_.TerminalSettings();
    before.c_cflag |= CSTOPB | CRTSCTS;
    before.c_iflag |= IXON | IXOFF | ICRNL;
    before.c_cc[VSTART] = 0x05;
    before.c_cc[VSTOP] = 0x06;
    cfsetspeed(&before, B9600);
    pty_.SetTerminalSettings(before);
    const termios original = pty_.TerminalSettings();

    channel_.BaudRate = 57600;
    ASSERT_EQ(channel_.Open(0), 0);
    EXPECT_EQ(channel_.SerialOpen, 1);
    EXPECT_GE(channel_.SerialHandle, 0);

    const termios applied = pty_.TerminalSettings();
    EXPECT_EQ(cfgetispeed(&applied), B57600);
    EXPECT_EQ(cfgetospeed(&applied), B57600);
    EXPECT_EQ(applied.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(applied.c_cflag & (PARENB | CSTOPB), 0u);
    // Kept as the port had them: hardware flow control and the special
    // characters.
    EXPECT_NE(applied.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(applied.c_cc[VSTART], 0x05);
    EXPECT_EQ(applied.c_cc[VSTOP], 0x06);
    // Bytes pass untouched: no line editing, echo, signals, software flow
    // control or newline translation either way.
    EXPECT_EQ(applied.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(applied.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF), 0u);
    EXPECT_EQ(applied.c_oflag & OPOST, 0u);

    channel_.Close();
    EXPECT_EQ(channel_.SerialOpen, 0);
    EXPECT_EQ(channel_.SerialHandle, -1);
    // The port goes back as it was found.
    const termios restored = pty_.TerminalSettings();
    EXPECT_EQ(cfgetospeed(&restored), cfgetospeed(&original));
    EXPECT_EQ(restored.c_cflag, original.c_cflag);
    EXPECT_EQ(restored.c_iflag, original.c_iflag);
    EXPECT_EQ(restored.c_lflag, original.c_lflag);
}

TEST_F(SerialTransport, OpensAtEachRateOfTheBaudRateList) {
    const struct {
        uint32_t rate;
        speed_t code;
    } rates[] = {{300, B300},     {1200, B1200},   {4800, B4800},   {9600, B9600},
                 {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
    for (const auto& r : rates) {
        channel_.BaudRate = r.rate;
        ASSERT_EQ(channel_.Open(0), 0) << r.rate;
        const termios applied = pty_.TerminalSettings();
        EXPECT_EQ(cfgetospeed(&applied), r.code) << r.rate;
        channel_.Close();
    }
}

TEST_F(SerialTransport, RefusedRateClosesThePortAgain) {
    const termios original = pty_.TerminalSettings();
    for (uint32_t rate : {0u, 12345u, 19201u}) {
        channel_.BaudRate = rate;
        EXPECT_EQ(channel_.Open(0), kSerialSettingsRefused) << rate;
        EXPECT_EQ(channel_.SerialOpen, 0);
        EXPECT_EQ(channel_.SerialHandle, -1);
        EXPECT_EQ(pty_.TerminalSettings().c_lflag, original.c_lflag);
    }
    // Nothing stayed open: the exclusive open works at once.
    channel_.BaudRate = 19200;
    EXPECT_EQ(channel_.Open(0), 0);
}

TEST_F(SerialTransport, OpenFailsForPortsThatCannotBeOpened) {
    const std::string tooLong(kPortNameSize, 'S');
    struct Case {
        std::string name;
        bool fillWholeField;
    };
    const Case cases[] = {
        {"ttyNOSUCH9", false},  // no such device
        {"null", false},        // not a terminal
        {"", false},            // /dev itself
        {tooLong, true},        // no terminating zero in the field
    };
    for (const Case& c : cases) {
        COM_Class channel;
        if (c.fillWholeField) {
            std::memcpy(channel.PortName, c.name.data(), sizeof channel.PortName);
        } else {
            SetPortName(channel, c.name);
        }
        EXPECT_EQ(channel.Open(0), kSerialOpenFailed) << c.name;
        EXPECT_EQ(channel.SerialOpen, 0) << c.name;
        EXPECT_EQ(channel.SerialHandle, -1) << c.name;
    }
}

TEST_F(SerialTransport, PortIsNotShared) {
    ASSERT_EQ(channel_.Open(0), 0);
    COM_Class second;
    SetPortName(second, pty_.portName());
    EXPECT_EQ(second.Open(0), kSerialOpenFailed);
    EXPECT_EQ(second.SerialOpen, 0);
    channel_.Close();
    EXPECT_EQ(second.Open(0), 0);
}

TEST_F(SerialTransport, CloseAndDestructionLetThePortGo) {
    {
        COM_Class owner;
        SetPortName(owner, pty_.portName());
        ASSERT_EQ(owner.Open(0), 0);
    }
    ASSERT_EQ(channel_.Open(0), 0);
    channel_.Close();
    channel_.Close();  // harmless when closed
    EXPECT_EQ(channel_.SerialOpen, 0);
    EXPECT_EQ(channel_.Open(0), 0);
}

// ---- drain and send ----------------------------------------------------

TEST_F(SerialTransport, DrainOnAClosedPortFails) {
    EXPECT_EQ(kSerialTransport.drain(channel_, kUnusedTimeoutMs), kSerialNotOpen);
}

TEST_F(SerialTransport, DrainThrowsAwayEverythingWaiting) {
    ASSERT_EQ(channel_.Open(0), 0);
    EXPECT_EQ(kSerialTransport.drain(channel_, kUnusedTimeoutMs), 0);  // nothing waiting

    const std::vector<uint8_t> leftovers(3 * kSerialDrainChunk + 7, 0x91);
    pty_.Write(leftovers);
    ASSERT_TRUE(pty_.WaitUntilWaiting(static_cast<int>(leftovers.size())));
    EXPECT_EQ(kSerialTransport.drain(channel_, kUnusedTimeoutMs), 0);
    EXPECT_EQ(pty_.WaitingNow(), 0);
}

TEST_F(SerialTransport, SendWritesEveryByteValueUnchanged) {
    ASSERT_EQ(channel_.Open(0), 0);
    std::vector<uint8_t> frame(256);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(kSerialTransport.send(channel_, frame.data(), static_cast<uint32_t>(frame.size()),
                                    kUnusedTimeoutMs),
              0);
    EXPECT_EQ(pty_.Read(frame.size()), frame);
}

TEST_F(SerialTransport, FailingPortGivesItsCodes) {
    // /dev/null is open but answers no byte count and refuses writes when
    // opened for reading only.
    const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    channel_.SerialHandle = fd;
    channel_.SerialOpen = 1;
    const uint8_t byte = 0x19;
    EXPECT_EQ(kSerialTransport.drain(channel_, kUnusedTimeoutMs), kSerialIoFailed);
    EXPECT_EQ(kSerialTransport.send(channel_, &byte, 1, kUnusedTimeoutMs), kSerialIoFailed);
    EXPECT_EQ(Receive(1000), kSerialReadFailed);
    channel_.Close();
    EXPECT_EQ(channel_.SerialOpen, 0);

    EXPECT_EQ(kSerialTransport.send(channel_, &byte, 1, kUnusedTimeoutMs),
              kSerialIoFailed);  // not open
}

// ---- receive -----------------------------------------------------------

TEST_F(SerialTransport, SilentPeerTimesOut) {
    ASSERT_EQ(channel_.Open(0), 0);
    const uint64_t start = TickMs();
    EXPECT_EQ(Receive(200), kReceiveTimeout);
    const uint64_t elapsed = TickMs() - start;
    EXPECT_GT(elapsed, 200u);
    EXPECT_LT(elapsed, static_cast<uint64_t>(kHangBoundMs));
}

TEST_F(SerialTransport, ReplyWithEveryByteValuePassesUnchanged) {
    ASSERT_EQ(channel_.Open(0), 0);
    std::vector<uint8_t> data(255);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    pty_.Write(SetIdReply(data));
    ASSERT_EQ(Receive(3000), 255);
    EXPECT_EQ(std::vector<uint8_t>(channel_.ReplyData, channel_.ReplyData + 255), data);
}

TEST_F(SerialTransport, ReplyAtASlowLinesPaceLongerThanTheTimeOutInTotalStillArrives) {
    channel_.BaudRate = 300;
    ASSERT_EQ(channel_.Open(0), 0);
    const std::vector<uint8_t> reply = SetIdReply();
    std::thread device([&] {
        for (uint8_t byte : reply) {
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            pty_.Write({byte});
        }
    });
    // 14 gaps of 60 ms exceed 400 ms; each byte inside the frame restarts it,
    // and 300 baud needs 33 ms a byte, so the whole frame is in its bound.
    EXPECT_EQ(Receive(400), 1);
    device.join();
}

TEST(SerialReceiveBacklog, MoreThanAReplysWorthWaitingFails) {
    // A pty holds at most 4 KiB, so a pipe stands in for a port with a deep
    // receive queue: the loop needs only the byte count, read and poll.
    struct Case {
        std::size_t waiting;
        int result;
    };
    const Case cases[] = {
        {kSerialMaxWaiting + 1, kSerialTooMuchWaiting},
        {kSerialMaxWaiting, kReceiveTimeout},  // noise, but not too much of it
    };
    for (const Case& c : cases) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        ASSERT_EQ(fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
        const std::vector<uint8_t> noise(c.waiting, 0x55);
        ASSERT_EQ(write(ends[1], noise.data(), noise.size()), static_cast<ssize_t>(c.waiting));

        COM_Class channel;
        channel.SerialHandle = ends[0];
        channel.SerialOpen = 1;
        ReplyParser parser(channel);
        EXPECT_EQ(ReceiveReply(channel, kSerialTransport, parser, 100), c.result) << c.waiting;
        channel.Close();
        close(ends[1]);
    }
}

// ---- whole transactions ------------------------------------------------

TEST_F(SerialTransport, SetIdTransactionDrainsWritesAndReceives) {
    ASSERT_EQ(channel_.Open(0), 0);
    // A stale reply from earlier traffic: parsed, its sequence number would
    // end the transaction with an error.
    std::vector<uint8_t> stale = ReplyFrame(1, 0x07, 0x00, {0x09});
    stale.insert(stale.end(), {0x91, 0x00, 0x01});
    pty_.Write(stale);
    ASSERT_TRUE(pty_.WaitUntilWaiting(static_cast<int>(stale.size())));

    std::vector<uint8_t> request;
    std::thread device([&] {
        request = pty_.Read(test_frames::kSetIdFrame.size());
        pty_.Write(SetIdReply({0x05}));
    });
    const uint8_t id = 5;
    int32_t detail = 0;
    const int result = channel_.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand, 1,
                                         &id, 3000, &detail);
    device.join();

    EXPECT_EQ(request, test_frames::kSetIdFrame);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(channel_.ReplyLength, 1u);
    EXPECT_EQ(channel_.ReplyData[0], 0x05);
}

TEST_F(SerialTransport, SetIdTransactionOnASilentLineTimesOut) {
    ASSERT_EQ(channel_.Open(0), 0);
    const uint8_t id = 5;
    int32_t detail = 0;
    EXPECT_EQ(channel_.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand, 1, &id, 150,
                                &detail),
              kReceiveTimeout);
    EXPECT_EQ(pty_.Read(test_frames::kSetIdFrame.size()), test_frames::kSetIdFrame);
    EXPECT_EQ(channel_.SerialOpen, 1);  // the caller closes
}

// A line that never falls silent holds no transaction past its time-out,
// whether the stream begins before the request (the drain gives up) or after
// it (the receive does); a reply behind a stream is still taken, since its
// bytes move the clock. The stream ends after 8 s at the latest, so a channel
// without the bound ends too, only late.
TEST(SerialFlood, EndsTheTransactionWithinItsTimeOut) {
    enum class Start { BeforeRequest, AfterRequest };
    struct Case {
        const char* name;
        Start start;
        int floodMs;
        uint32_t timeoutMs;
        int expected;
    };
    const Case cases[] = {
        {"flood before the request", Start::BeforeRequest, 8000, 300, kReceiveTimeout},
        {"flood after the request", Start::AfterRequest, 8000, 300, kReceiveTimeout},
        {"flood, then a reply", Start::AfterRequest, 300, 3000, 1},
    };
    for (const Case& c : cases) {
        PtyDevice pty;
        ASSERT_TRUE(pty.ok());
        COM_Class channel;
        SetPortName(channel, pty.portName());
        channel.BaudRate = 115200;
        ASSERT_EQ(channel.Open(0), 0);
        std::atomic<bool> done{false};
        std::thread device([&] {
            if (c.start == Start::AfterRequest) {
                pty.Read(test_frames::kSetIdFrame.size());
            }
            pty.Flood(c.floodMs, done);
            if (!done) {
                pty.Write(SetIdReply({0x05}));
            }
        });
        const uint64_t start = TickMs();
        const uint8_t id = 5;
        EXPECT_EQ(channel.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand, 1, &id,
                                   c.timeoutMs, nullptr),
                  c.expected)
            << c.name;
        EXPECT_LT(TickMs() - start, c.timeoutMs + 2000u) << c.name;
        done = true;
        device.join();
    }
}

TEST(ReplyFrameHelper, ChecksumIsCrc16Arc) {
    EXPECT_EQ(test_frames::BitwiseCrc16Arc({'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xBB3D);
}

}  // namespace
