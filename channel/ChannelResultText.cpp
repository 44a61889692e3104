#include "channel/ChannelResult.h"

#include "channel/COM_Class.h"

namespace {

constexpr uint8_t kAnyKind = 0;

struct ResultText {
    int code;
    uint8_t kind;  // the transport this meaning belongs to, or kAnyKind
    const char* text;
};

// A value shared by two transports has one row for each, and a row of both
// meanings for a caller that does not know the transport. The rows of one
// value stand together, the shared row first.
constexpr ResultText kResultTexts[] = {
    {kChannelOk, kAnyKind, "success"},
    {kSerialOpenFailed, kAnyKind,
     "the serial port could not be opened (serial), or a HID report could not be written (HID)"},
    {kSerialOpenFailed, TransportKind::Serial,
     "the serial port could not be opened (no such port, in use, or no permission)"},
    {kHidSendFailed, TransportKind::Hid, "a HID report could not be written to the device"},
    {kSerialSettingsRefused, kAnyKind, "the serial port refused the line settings"},
    {kTcpBadAddress, kAnyKind, "the host is not a dotted IPv4 address"},
    {kTcpNoSocket, kAnyKind, "no TCP socket could be created"},
    {kTcpNonBlocking, kAnyKind, "the TCP socket could not be made non-blocking"},
    {kTcpConnectTimeout, kAnyKind,
     "no TCP connection within the time limit (TCP), or more than 12000 bytes waiting at "
     "once (serial)"},
    {kTcpConnectTimeout, TransportKind::Tcp, "no TCP connection within the time limit"},
    {kSerialTooMuchWaiting, TransportKind::Serial,
     "more than 12000 bytes were waiting on the serial port at once"},
    {kTcpConnectFailed, kAnyKind, "the connection was refused or the host is unreachable"},
    {kTcpNotWritable, kAnyKind, "the TCP connection did not become writable"},
    {kChannelWrongKind, kAnyKind, "the channel has no transport of that kind"},
    {kReceiveTimeout, kAnyKind, "no complete reply within the time-out"},
    {kReplyWrongAddress, kAnyKind, "the reply came from another address than the request's"},
    {kReplyWrongSequence, kAnyKind, "the reply carries another sequence number than the request"},
    {kReplyBadCount, kAnyKind, "the reply's count does not match its check byte"},
    {kReplyCountTooLarge, kAnyKind, "the reply announces more than 12000 data bytes"},
    {kReplyBadCrc, kAnyKind, "the reply's CRC is wrong"},
    {kReplyBadEnd, kAnyKind, "the reply does not end with the end marker"},
    {kSerialReadFailed, kAnyKind,
     "reading the serial port failed (serial), or the HID device failed a read or went away "
     "(HID)"},
    {kSerialReadFailed, TransportKind::Serial, "reading the serial port failed"},
    {kHidReadFailed, TransportKind::Hid, "the HID device failed a read or went away"},
    {kPeerClosed, kAnyKind, "the device closed the connection"},
    {kSocketError, kAnyKind, "the TCP connection failed"},
    {kTransactDeviceDetail, kAnyKind, "the device refused the request, with a detail code"},
    {kTransactDeviceResult2, kAnyKind, "the device refused the request (result 2)"},
    {kTransactDeviceResult3, kAnyKind, "the device refused the request (result 3)"},
    {kTransactDeviceResult4, kAnyKind, "the device refused the request (result 4)"},
    {kTransactDeviceOther, kAnyKind, "the device refused the request (result 5 or above)"},
    {kSerialNotOpen, kAnyKind, "the serial port is not open"},
    {kSerialIoFailed, kAnyKind, "reading or writing the serial port failed"},
    {kHidNoDevice, kAnyKind, "no HID device with that vendor and product identifier"},
    {kTransactTooLong, kAnyKind, "the request holds more data than one frame can carry"},
    {kTransactNoMarkerRow, kAnyKind, "the channel's frame-marker row does not exist"},
};

}  // namespace

const char* ChannelResultText(int code) {
    return ChannelResultText(code, kAnyKind);
}

const char* ChannelResultText(int code, uint8_t kind) {
    if (code > kChannelOk) {
        return "success";
    }
    const char* shared = nullptr;
    for (const ResultText& entry : kResultTexts) {
        if (entry.code != code) {
            continue;
        }
        if (entry.kind == kind) {
            return entry.text;
        }
        if (entry.kind == kAnyKind && shared == nullptr) {
            shared = entry.text;
        }
    }
    return shared != nullptr ? shared : "unknown result";
}
