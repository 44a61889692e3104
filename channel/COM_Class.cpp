#include "channel/COM_Class.h"

#include <cstring>

#include "channel/ChannelResult.h"
#include "channel/HidReportDevice.h"
#include "channel/Transport.h"

namespace {
constexpr char kDefaultPortName[] = "COM1";
constexpr uint32_t kDefaultBaudRate = 19200;
static_assert(sizeof(kDefaultPortName) <= kPortNameSize, "default port name fits its field");
}  // namespace

const TransportOps* TransportFor(uint8_t kind) {
    switch (kind) {
        case TransportKind::Serial:
            return &kSerialTransport;
        case TransportKind::Tcp:
            return &kTcpTransport;
        case TransportKind::Hid:
            return &kHidTransport;
        default:
            return nullptr;
    }
}

COM_Class::COM_Class() {
    std::memcpy(PortName, kDefaultPortName, sizeof(kDefaultPortName));
    BaudRate = kDefaultBaudRate;
    Kind = TransportKind::Serial;
    SerialHandle = kNoSerialPort;
    Socket = kNoSocket;
}

COM_Class::~COM_Class() {
    Close();
}

int COM_Class::Open(uint32_t timeoutMs) {
    // A channel is meant to be opened from closed; whatever an earlier Open
    // left open is let go first rather than leaked.
    Close();
    if (Kind == TransportKind::NoTransport) {
        return kChannelOk;
    }
    const TransportOps* transport = TransportFor(Kind);
    if (transport == nullptr) {
        return kChannelWrongKind;
    }
    return transport->open(*this, timeoutMs);
}

// The one place that knows the order in which a channel lets go: serial port,
// then socket, then HID device.
void COM_Class::Close() {
    if (SerialOpen) {
        kSerialTransport.close(*this);
    }
    if (SocketOpen) {
        kTcpTransport.close(*this);
    }
    if (HidOpen) {
        kHidTransport.close(*this);
    }
}
