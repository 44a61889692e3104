#include <gtest/gtest.h>

#include <string>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"

namespace {

struct TextCase {
    int code;
    uint8_t kind;  // 0: the transport is not known
    const char* expected;
};

// A value two transports share names both meanings until the transport is
// known, and only that transport's meaning then.
TEST(ChannelResultText, SharedValuesNameTheMeaningOfTheirTransport) {
    const TextCase cases[] = {
        {kTcpConnectTimeout, 0,
         "no TCP connection within the time limit (TCP), or more than 12000 bytes waiting at "
         "once (serial)"},
        {kTcpConnectTimeout, TransportKind::Tcp, "no TCP connection within the time limit"},
        {kSerialTooMuchWaiting, TransportKind::Serial,
         "more than 12000 bytes were waiting on the serial port at once"},
        {kHidSendFailed, TransportKind::Hid, "a HID report could not be written to the device"},
        {kSerialOpenFailed, TransportKind::Serial,
         "the serial port could not be opened (no such port, in use, or no permission)"},
        {kHidReadFailed, TransportKind::Hid, "the HID device failed a read or went away"},
        {kReceiveTimeout, TransportKind::Hid, "no complete reply within the time-out"},
        {kTcpConnectFailed, TransportKind::Tcp,
         "the connection was refused or the host is unreachable"},
        {kChannelOk, 0, "success"},
        {14, TransportKind::Tcp, "success"},
        {-25, 0, "unknown result"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(std::string(ChannelResultText(c.code, c.kind)), c.expected) << c.code;
    }
}

TEST(ChannelResultText, EveryCodeOfTheChannelHasItsOwnText) {
    for (int code = kTransactNoMarkerRow; code < kChannelOk; ++code) {
        const std::string text = ChannelResultText(code);
        EXPECT_EQ(text == "unknown result", code == -25) << code;
    }
}

}  // namespace
