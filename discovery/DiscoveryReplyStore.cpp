#include "discovery/DiscoveryReplyStore.h"

#include "discovery/DeviceTable.h"
#include "discovery/DiscoveryDatagram.h"

DiscoveryDatagramOutcome StoreDiscoveryDatagram(uint8_t* table, size_t capacity,
                                                size_t* writePosition, const uint8_t* datagram,
                                                ssize_t length) {
    if (!IsDiscoveryReply(datagram, length)) {
        return DiscoveryDatagramOutcome::Skipped;
    }
    if (!AppendDeviceRecord(table, capacity, writePosition, datagram + kReplyRecordOffset,
                            static_cast<size_t>(length) - kReplyRecordOffset)) {
        return DiscoveryDatagramOutcome::TableFull;
    }
    return DiscoveryDatagramOutcome::Stored;
}
