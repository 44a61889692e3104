#include "commission/SegmentPort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/BroadcastSend.h"
#include "common/ReceiveDatagram.h"
#include "discovery/DiscoverySocket.h"

SegmentPort::~SegmentPort() {
    Close();
}

void SegmentPort::Close() {
    if (socket_ >= 0) {
        close(socket_);
        socket_ = -1;
    }
}

int SegmentPort::Open() {
    Close();
    const int opened = OpenDiscoverySocket(true);
    if (opened < 0) {
        return opened;
    }
    socket_ = opened;
    return 0;
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
        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        destination.sin_port = htons(kDeviceUdpPort);
        destination.sin_addr.s_addr = htonl(directTo);
        return sendto(socket_, datagram, sizeof datagram, MSG_DONTROUTE,
                      reinterpret_cast<const sockaddr*>(&destination), sizeof destination) >= 0;
    }
    const ssize_t sent =
        interfaceIndex == 0
            ? SendBroadcastDatagram(socket_, datagram, sizeof datagram, kDeviceUdpPort,
                                    MSG_DONTROUTE)
            : SendBroadcastDatagramVia(socket_, datagram, sizeof datagram, kDeviceUdpPort,
                                       MSG_DONTROUTE, interfaceIndex);
    return sent >= 0;
}

bool SegmentPort::Receive(SegmentDatagram* datagram) {
    std::memset(datagram->bytes, 0, sizeof datagram->bytes);
    for (;;) {
        datagram->length = ReceiveDatagram(socket_, datagram->bytes, sizeof datagram->bytes,
                                           MSG_DONTWAIT, &datagram->interfaceIndex);
        if (datagram->length >= 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        // A datagram too long for the buffer was taken off the socket all
        // the same; any other failure leaves nothing to read.
        return errno == EMSGSIZE;
    }
}
