// The serial transport: a port opened for this program alone, switched to the
// channel's line format, and read only as far as the system reports bytes
// waiting. The port operations are the system's (platform/SerialPort.h).

#include "channel/TransportSerial.h"

#include <cstring>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/Tick.h"
#include "channel/Transport.h"
#include "platform/SerialPort.h"

namespace {

// The slowest rate a port runs at; what a channel without a rate is given
// for a frame's time on the line.
constexpr uint32_t kSlowestLineRate = 50;

int SerialOpenPort(COM_Class& channel, uint32_t /*timeoutMs*/) {
    std::string path;
    if (!SerialDevicePath(channel.PortName, sizeof channel.PortName, &path)) {
        return kSerialOpenFailed;
    }
    SerialPortHandle port = kNoSerialPort;
    switch (OpenSerialPort(path, channel.BaudRate, &port, channel.SerialSettings)) {
        case SerialOpenResult::Opened:
            break;
        case SerialOpenResult::SettingsRefused:
            return kSerialSettingsRefused;
        case SerialOpenResult::OpenFailed:
            return kSerialOpenFailed;
    }
    channel.SerialHandle = port;
    channel.SerialOpen = 1;
    return 0;
}

void SerialClosePort(COM_Class& channel) {
    if (channel.SerialHandle != kNoSerialPort) {
        CloseSerialPort(channel.SerialHandle, channel.SerialSettings);
    }
    channel.SerialHandle = kNoSerialPort;
    channel.SerialOpen = 0;
}

int SerialDrain(COM_Class& channel, uint32_t timeoutMs) {
    if (!channel.SerialOpen) {
        return kSerialNotOpen;
    }
    // A line that never falls silent would hold the drain for ever; after the
    // transaction's time-out the request would only drown in the stream.
    const uint64_t start = TickMs();
    uint8_t discard[kSerialDrainChunk];
    for (;;) {
        std::size_t waiting = 0;
        if (!SerialBytesWaiting(channel.SerialHandle, &waiting)) {
            return kSerialIoFailed;
        }
        if (waiting == 0) {
            return 0;
        }
        if (TimeoutPassed(start, TickMs(), timeoutMs)) {
            return kReceiveTimeout;
        }
        const std::size_t chunk = waiting < kSerialDrainChunk ? waiting : kSerialDrainChunk;
        if (!ReadSerialBytes(channel.SerialHandle, discard, chunk)) {
            return kSerialIoFailed;
        }
    }
}

int SerialSend(COM_Class& channel, const uint8_t* frame, uint32_t length, uint32_t /*timeoutMs*/) {
    if (!channel.SerialOpen) {
        return kSerialIoFailed;
    }
    return WriteSerialBytes(channel.SerialHandle, frame, length) ? 0 : kSerialIoFailed;
}

// Takes exactly what the port reports waiting, after waiting for it when
// nothing is. A system that can wait for a byte only by reading it hands
// that byte over first.
int SerialRead(COM_Class& channel, uint8_t* buffer, std::size_t room, uint32_t waitMs) {
    const SerialPortHandle port = channel.SerialHandle;
    std::size_t waiting = 0;
    std::size_t taken = 0;
    if (!SerialBytesWaiting(port, &waiting)) {
        return kSerialReadFailed;
    }
    if (waiting == 0) {
        if (!AwaitSerialByte(port, waitMs, buffer, &taken)) {
            return kSerialReadFailed;
        }
        if (!SerialBytesWaiting(port, &waiting)) {
            return kSerialReadFailed;
        }
    }
    const std::size_t arrived = taken + waiting;
    if (arrived > kSerialMaxWaiting || arrived > room) {
        return kSerialTooMuchWaiting;
    }
    if (waiting > 0 && !ReadSerialBytes(port, buffer + taken, waiting)) {
        return kSerialReadFailed;
    }
    return static_cast<int>(arrived);
}

// The frame's time on the line at the channel's rate, with the margin. An
// open port always runs at the rate it took; a channel without a rate gets
// the slowest, the most generous reading.
uint64_t SerialFrameAllowance(const COM_Class& channel, uint32_t frameBytes) {
    constexpr uint64_t kMsPerSecond = 1000;
    const uint64_t rate = channel.BaudRate != 0 ? channel.BaudRate : kSlowestLineRate;
    const uint64_t bitMs =
        uint64_t{frameBytes} * kSerialBitsPerByte * kLineTimeMargin * kMsPerSecond;
    return (bitMs + rate - 1) / rate;
}

}  // namespace

const TransportOps kSerialTransport = {
    SerialOpenPort, SerialClosePort, SerialDrain, SerialSend, SerialRead, SerialFrameAllowance,
};
