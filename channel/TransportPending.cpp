// PLACEHOLDER until the serial and HID transports land: channel/TransportSerial.cpp
// and channel/TransportHid.cpp define these two tables, and this file goes.
// Until then opening either kind fails as an unknown kind would.
#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/Transport.h"

namespace {
int OpenPending(COM_Class&, uint32_t) {
    return kChannelWrongKind;
}
void ClosePending(COM_Class&) {}
int SendPending(COM_Class&, const uint8_t*, uint32_t, uint32_t) {
    return kChannelWrongKind;
}
int ReceivePending(COM_Class&, ReplyParser&, uint32_t) {
    return kChannelWrongKind;
}
}  // namespace

const TransportOps kSerialTransport = {OpenPending, ClosePending, nullptr, SendPending,
                                       ReceivePending};
const TransportOps kHidTransport = {OpenPending, ClosePending, nullptr, SendPending,
                                    ReceivePending};
