#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/AddressText.h"
#include "platform/SerialPort.h"
#include "platform/Sockets.h"

class ChannelEvents;
class HidReportDevice;

// Codes held in COM_Class::Kind. Any other value makes Open and Transact
// fail with kChannelWrongKind.
namespace TransportKind {
constexpr uint8_t Serial = 1;       // a serial port; the default after construction
constexpr uint8_t Tcp = 2;          // a TCP connection to HostAddress:HostPort
constexpr uint8_t Hid = 3;          // the first USB HID device matching VendorId/ProductId
constexpr uint8_t NoTransport = 4;  // Open succeeds and opens nothing
}  // namespace TransportKind

// Sizes that are limits of the frame format.
constexpr std::size_t kPortNameSize = 12;        // zero-terminated
constexpr std::size_t kMaxReplyData = 12000;     // data bytes of one reply
constexpr std::size_t kRequestFrameSize = 4100;  // one whole request frame
// Room for the platform's line settings record.
constexpr std::size_t kSerialSettingsSize = kSerialPortSettingsSize;

// The device channel: one TCP connection, serial port or HID device to one
// device, and framed request/reply transactions over it. Every operation runs
// on the caller's thread, raises nothing, shows nothing and returns 0 (or a
// count) for success and a negative code for failure.
class COM_Class {
public:
    COM_Class();
    ~COM_Class();
    COM_Class(const COM_Class&) = delete;
    COM_Class& operator=(const COM_Class&) = delete;

    // Opens the transport named by Kind; timeoutMs bounds the TCP connect.
    int Open(uint32_t timeoutMs);
    // Closes whatever is open: serial port, then socket, then HID device.
    // Safe at any time.
    void Close();
    // One request/reply exchange; returns the reply's data count (>= 1) or a
    // negative code. `detail` is written only for kTransactDeviceDetail.
    int Transact(uint32_t address, uint8_t function, uint8_t command, uint32_t length,
                 const uint8_t* data, uint32_t timeoutMs, int32_t* detail);

    // Payload cipher state.
    int32_t CipherI = 0;
    int32_t CipherJ = 0;
    uint8_t CipherBox[256] = {};

    // Open flags (32-bit booleans).
    int32_t SerialOpen = 0;
    int32_t SocketOpen = 0;
    int32_t HidOpen = 0;

    char PortName[kPortNameSize] = {};
    uint32_t BaudRate = 0;
    char HostAddress[kAddressTextFieldSize] = {};  // dotted IPv4 text
    uint16_t HostPort = 0;                         // host byte order
    uint8_t ReplyData[kMaxReplyData + 1] = {};
    uint8_t Kind = 0;
    uint32_t ReplyLength = 0;
    SocketHandle Socket = kNoSocket;

    uint32_t VendorId = 0;
    uint32_t ProductId = 0;
    std::unique_ptr<HidReportDevice> HidHandle;

    SerialPortHandle SerialHandle = kNoSerialPort;
    // The port's line settings as read at open, kept as an opaque record so
    // that only the serial transport sees the platform's type.
    alignas(8) uint8_t SerialSettings[kSerialSettingsSize] = {};

    uint8_t CipherEnabled = 0;
    uint8_t MarkerSet = 0;
    uint8_t RequestFrame[kRequestFrameSize] = {};  // byte 1 carries the sequence counter

    // What the last request carried, for the reply parser.
    uint32_t SentAddress = 0;
    uint32_t ReplyResult = 0;
    uint8_t SentFunction = 0;
    uint8_t SentCommand = 0;
    uint8_t SentSequence = 0;

    // The window's hook for waits that must keep it live; null: a plain wait
    // for the socket.
    ChannelEvents* Events = nullptr;
};
