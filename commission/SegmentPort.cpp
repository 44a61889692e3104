#include "commission/SegmentPort.h"

#include <cstring>

#include "common/BroadcastSend.h"
#include "discovery/DiscoverySocket.h"

SegmentPort::~SegmentPort() {
    Close();
}

void SegmentPort::Close() {
    if (socket_ != kNoSocket) {
        CloseSocket(socket_);
        socket_ = kNoSocket;
    }
}

int SegmentPort::Open() {
    Close();
    return OpenDiscoverySocket(true, &socket_);
}

bool SegmentPort::SendSearch(unsigned interfaceIndex) {
    uint8_t request[kDiscoveryRequestLength];
    BuildDiscoveryRequest(request);
    const ssize_t sent =
        interfaceIndex == 0
            ? SendBroadcastDatagram(socket_, request, sizeof request, kDeviceUdpPort, 0)
            : SendBroadcastDatagramVia(socket_, request, sizeof request, kDeviceUdpPort, 0,
                                       interfaceIndex);
    return sent >= 0;
}

bool SegmentPort::SendSetup(const uint8_t (&datagram)[kSetupDatagramLength],
                            unsigned interfaceIndex, uint32_t directTo) {
    if (directTo != 0) {
        return SendDatagram(socket_, datagram, sizeof datagram, directTo, kDeviceUdpPort,
                            kSendDontRoute) >= 0;
    }
    const ssize_t sent =
        interfaceIndex == 0
            ? SendBroadcastDatagram(socket_, datagram, sizeof datagram, kDeviceUdpPort,
                                    kSendDontRoute)
            : SendBroadcastDatagramVia(socket_, datagram, sizeof datagram, kDeviceUdpPort,
                                       kSendDontRoute, interfaceIndex);
    return sent >= 0;
}

bool SegmentPort::Receive(SegmentDatagram* datagram) {
    std::memset(datagram->bytes, 0, sizeof datagram->bytes);
    for (;;) {
        datagram->length = ReceiveDatagram(socket_, datagram->bytes, sizeof datagram->bytes, true,
                                           &datagram->interfaceIndex);
        if (datagram->length >= 0) {
            return true;
        }
        const SocketError error = LastSocketError();
        if (error == SocketError::Interrupted) {
            continue;
        }
        // A datagram too long for the buffer was taken off the socket all
        // the same; any other failure leaves nothing to read.
        return error == SocketError::MessageTooLong;
    }
}
