#include "idassign/DeviceId.h"

#include "channel/COM_Class.h"
#include "common/ScopeExit.h"

int TransactDeviceId(COM_Class& channel, uint8_t id, int32_t* detail, uint32_t replyLimitMs) {
    return channel.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand, kDeviceIdLength,
                            &id, replyLimitMs, detail);
}

DeviceIdOutcome WriteDeviceId(COM_Class& channel, uint8_t id, uint32_t connectLimitMs) {
    DeviceIdOutcome outcome;
    const ScopeExit closeChannel([&channel] { channel.Close(); });
    outcome.openResult = channel.Open(connectLimitMs);
    if (outcome.openResult < 0) {
        return outcome;
    }
    outcome.result = TransactDeviceId(channel, id, &outcome.detail);
    return outcome;
}
