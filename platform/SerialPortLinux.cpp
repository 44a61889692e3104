// A tty opened exclusively, switched to the channel's line format, and read
// only as far as the driver reports bytes waiting.

#include "platform/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

static_assert(sizeof(termios) <= kSerialPortSettingsSize,
              "the saved settings must hold the platform's line settings");

namespace {

constexpr char kComPrefix[] = "COM";
constexpr std::size_t kComPrefixLength = sizeof(kComPrefix) - 1;
constexpr char kComDevicePrefix[] = "/dev/ttyS";
constexpr char kDeviceDirectory[] = "/dev/";
constexpr unsigned kDecimalBase = 10;
// Above this a "COMn" name is no port number but just a name.
constexpr uint64_t kMaxComNumber = UINT32_MAX;

// A hang-up on the line makes poll() return at once for ever; this pause
// keeps the wait for the time-out from spinning in that case.
constexpr int kHangupPauseMs = 1;

struct LineRate {
    uint32_t rate;
    speed_t code;
};

constexpr LineRate kLineRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool LineRateCode(uint32_t rate, speed_t* code) {
    for (const LineRate& entry : kLineRates) {
        if (entry.rate == rate) {
            *code = entry.code;
            return true;
        }
    }
    return false;
}

// The channel's line format on top of what the port had. A tty also runs a
// line discipline that a comm port elsewhere does not have, and the kernel
// starts every tty with it on: left as it was, it would hold bytes back until
// a newline, echo them to the device, turn 0x0D into 0x0A and 0x0A into
// 0x0D 0x0A, strip bit 7, raise SIGINT on 0x03 (the frames' end marker) and
// swallow 0x11 and 0x13 as XON/XOFF, which any CRC byte may be. So the
// character processing and software flow control go too; hardware flow
// control, the modem lines and the special characters stay as the port had
// them.
void ApplyLineFormat(termios* settings, speed_t rate) {
    settings->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    // CLOCAL: the carrier line neither gates the open nor hangs the port up.
    settings->c_cflag |= CS8 | CREAD | CLOCAL;
    settings->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                                ICRNL | INPCK | IUCLC | IXON | IXOFF | IXANY);
    settings->c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings->c_lflag &=
        ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN);
    cfsetispeed(settings, rate);
    cfsetospeed(settings, rate);
}

// A driver may take part of a change and still report success, so what was
// asked for is read back.
bool LineFormatTaken(int fd, speed_t rate) {
    termios now{};
    if (tcgetattr(fd, &now) != 0) {
        return false;
    }
    return (now.c_cflag & CSIZE) == CS8 && (now.c_cflag & (PARENB | CSTOPB)) == 0 &&
           cfgetispeed(&now) == rate && cfgetospeed(&now) == rate;
}

void CloseQuietly(int fd) {
    // A retried close() on Linux could close a descriptor that another
    // thread has just been given, so close once whatever it says.
    close(fd);
}

}  // namespace

const char* SerialPortNameExamples() {
    return "ttyUSB0, /dev/ttyS0, COM1 for ttyS0";
}

const char* SerialOpenAdvice() {
    return "serial ports open only for users in the dialout group";
}

bool SerialDevicePath(const char* portName, std::size_t fieldSize, std::string* path) {
    const void* terminator = std::memchr(portName, '\0', fieldSize);
    if (terminator == nullptr) {
        return false;
    }
    const std::size_t length = static_cast<const char*>(terminator) - portName;
    const std::string name(portName, length);

    // "COMn": the prefix in any case (the names are case-blind where they
    // come from), then a decimal number from 1 without sign or spaces.
    bool comName =
        length > kComPrefixLength && strncasecmp(name.c_str(), kComPrefix, kComPrefixLength) == 0;
    uint64_t number = 0;
    for (std::size_t i = kComPrefixLength; comName && i < length; ++i) {
        const char digit = name[i];
        if (digit < '0' || digit > '9') {
            comName = false;
        } else {
            number = number * kDecimalBase + static_cast<unsigned>(digit - '0');
            comName = number <= kMaxComNumber;
        }
    }
    if (comName && number >= 1) {
        *path = kComDevicePrefix + std::to_string(number - 1);
    } else {
        *path = kDeviceDirectory + name;
    }
    return true;
}

SerialOpenResult OpenSerialPort(const std::string& path, uint32_t rate, SerialPortHandle* port,
                                void* saved) {
    // Non-blocking only for the open itself, which would otherwise wait for
    // the carrier on a modem line.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return SerialOpenResult::OpenFailed;
    }
    // TIOCEXCL keeps other opens out but not root's; the lock also keeps a
    // second copy of the tool out when it runs as root.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        CloseQuietly(fd);
        return SerialOpenResult::OpenFailed;
    }

    termios original{};
    speed_t code = B0;
    if (tcgetattr(fd, &original) != 0 || !LineRateCode(rate, &code)) {
        CloseQuietly(fd);
        return SerialOpenResult::SettingsRefused;
    }
    termios wanted = original;
    ApplyLineFormat(&wanted, code);
    if (tcsetattr(fd, TCSANOW, &wanted) != 0 || !LineFormatTaken(fd, code)) {
        tcsetattr(fd, TCSANOW, &original);
        CloseQuietly(fd);
        return SerialOpenResult::SettingsRefused;
    }

    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        tcsetattr(fd, TCSANOW, &original);
        CloseQuietly(fd);
        return SerialOpenResult::OpenFailed;
    }

    // The settings as read, so that the close can give the port back as it
    // was.
    std::memcpy(saved, &original, sizeof original);
    *port = fd;
    return SerialOpenResult::Opened;
}

void CloseSerialPort(SerialPortHandle port, const void* saved) {
    const int fd = static_cast<int>(port);
    termios original{};
    std::memcpy(&original, saved, sizeof original);
    tcsetattr(fd, TCSANOW, &original);
    CloseQuietly(fd);
}

bool SerialBytesWaiting(SerialPortHandle port, std::size_t* waiting) {
    int count = 0;
    *waiting = 0;
    if (ioctl(static_cast<int>(port), FIONREAD, &count) != 0 || count < 0) {
        return false;
    }
    *waiting = static_cast<std::size_t>(count);
    return true;
}

bool ReadSerialBytes(SerialPortHandle port, uint8_t* buffer, std::size_t count) {
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = read(static_cast<int>(port), buffer + got, count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

bool WriteSerialBytes(SerialPortHandle port, const uint8_t* bytes, std::size_t count) {
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = write(static_cast<int>(port), bytes + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

// Sleeps in poll() until a byte arrives or `waitMs` pass, rather than spin
// on the waiting count; the byte stays waiting.
bool AwaitSerialByte(SerialPortHandle port, uint32_t waitMs, uint8_t* /*taken*/,
                     std::size_t* takenCount) {
    *takenCount = 0;
    pollfd readable{static_cast<int>(port), POLLIN, 0};
    const int ready = poll(&readable, 1, waitMs > INT_MAX ? INT_MAX : static_cast<int>(waitMs));
    if (ready < 0 && errno != EINTR) {
        return false;
    }
    if (ready > 0 && (readable.revents & POLLNVAL)) {
        return false;
    }
    if (ready > 0 && (readable.revents & (POLLHUP | POLLERR)) && !(readable.revents & POLLIN)) {
        poll(nullptr, 0, kHangupPauseMs);
    }
    return true;
}
