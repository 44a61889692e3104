// Set IDs over the one channel of the soak, against a device whose TCP
// service misbehaves, against addresses where nothing answers, and against
// the rogue peer, which ends its connections in the middle of a reply. Each
// way ends with its own code, the channel closed, and the next transaction
// on the same channel unaffected.
#include <cstring>
#include <string>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/Transport.h"
#include "idassign/DeviceId.h"
#include "tests/soak/RoguePeer.h"
#include "tests/soak/Soak.h"
#include "tests/support/LabSupport.h"

namespace {

constexpr int32_t kDetail207 = 207;
constexpr int kNoDetail = -1;

struct TcpFault {
    const char* name;
    std::string keys;  // the simulator's TCP keys for the device
    int result;        // 1: success with the ID as the one data byte
    int32_t detail = kNoDetail;
    long frameMs = 0;  // what a reply frame may take beyond the time-out
};

const std::vector<TcpFault>& TcpFaults() {
    static const std::vector<TcpFault> faults = {
        {"answers", "", 1},
        {"result byte 0x80", "tcp-result=128", 1},
        {"long count form", "tcp-long=1", 1},
        {"noise before the reply", "tcp-noise=40", 1},
        {"bytes before the request", "tcp-before=0102030405", 1},
        {"answers after a delay", "tcp-delay=100", 1},
        {"answers too late", "tcp-delay=1500", kReceiveTimeout},
        {"no answer", "tcp-reply=none", kReceiveTimeout},
        {"endless trickle of noise", "tcp-reply=trickle,tcp-trickle=20", kReceiveTimeout},
        // A 4000-byte frame, a byte every 450 ms: hours, but for the frame's bound.
        {"trickling reply frame", "tcp-reply=trickle-frame,tcp-trickle=450", kReceiveTimeout,
         kNoDetail, kSoakReplyTimeoutMs + kTcpFrameAllowanceMs},
        // Zeros as fast as the connection takes them; the stream would end
        // by itself only after 8 s, far beyond the soak's bound.
        {"flood before the request", "tcp-flood=accept,tcp-flood-for=8000", kReceiveTimeout},
        {"flood after the request", "tcp-flood=request,tcp-flood-for=8000", kReceiveTimeout},
        {"flood, then the reply", "tcp-flood=request,tcp-flood-for=150,tcp-delay=300", 1},
        {"closes the connection", "tcp-reply=close", kPeerClosed},
        {"wrong address", "tcp-address=2", kReplyWrongAddress},
        {"wrong sequence", "tcp-sequence=1", kReplyWrongSequence},
        {"bad count check", "tcp-bad-check=1", kReplyBadCount},
        {"count above the buffer", "tcp-count=12001", kReplyCountTooLarge},
        {"bad CRC", "tcp-bad-crc=1", kReplyBadCrc},
        {"bad end marker", "tcp-end=4", kReplyBadEnd},
        {"result 1 with a detail code", "tcp-result=129,tcp-data=0702", kTransactDeviceDetail,
         kDetail207},
        {"result 2", "tcp-result=2", kTransactDeviceResult2},
        {"result 3", "tcp-result=3", kTransactDeviceResult3},
        {"result 4", "tcp-result=4", kTransactDeviceResult4},
        {"result 77", "tcp-result=77", kTransactDeviceOther},
    };
    return faults;
}

bool SetHost(COM_Class& channel, const std::string& address, uint16_t port) {
    if (address.size() >= sizeof channel.HostAddress) {
        return false;
    }
    std::memset(channel.HostAddress, 0, sizeof channel.HostAddress);
    std::memcpy(channel.HostAddress, address.data(), address.size());
    channel.HostPort = port;
    channel.Kind = TransportKind::Tcp;
    return true;
}

// Opens, transacts and closes as Set ID does; the open's code when it fails.
int SetId(COM_Class& channel, uint8_t id, uint32_t connectMs, int32_t* detail, bool* opened) {
    const int open = channel.Open(connectMs);
    *opened = channel.SocketOpen != 0;
    if (open != kChannelOk) {
        return open;
    }
    const int result = TransactDeviceId(channel, id, detail, kSoakReplyTimeoutMs);
    channel.Close();
    return result;
}

std::string Check(const COM_Class& channel, int result, int expected, int32_t detail,
                  int32_t expectedDetail, uint8_t id) {
    if (channel.SocketOpen != 0) {
        return "the channel stayed open";
    }
    if (result != expected) {
        return "answered " + std::to_string(result) + ", expected " + std::to_string(expected);
    }
    if (expectedDetail != kNoDetail && detail != expectedDetail) {
        return "detail " + std::to_string(detail);
    }
    if (expected == 1 && channel.ReplyData[0] != id) {
        return "the reply does not carry the new ID";
    }
    return "";
}

}  // namespace

SoakOutcome SoakSetId(SoakContext& context) {
    std::mt19937& random = context.random;
    COM_Class& channel = context.channel;
    SoakOutcome outcome{"set id", {}, true, {}};
    const uint8_t id = static_cast<uint8_t>(random());
    int32_t detail = kNoDetail;
    bool opened = false;

    const unsigned way = random() % 16;
    if (way < 3) {
        // Ways that end before or at the connection, and the rogue peer.
        const LabEnvironment& lab = Lab();
        const std::string rogueIp = lab.deviceIps.back();
        struct {
            const char* name;
            std::string address;
            uint16_t port;
            uint32_t connectMs;
            int result;
            int alsoDocumented;  // a second outcome the same fault may have
        } const ways[] = {
            {"connection reset mid-frame", rogueIp, kRogueResetPort, kSoakConnectMs, kSocketError,
             kSocketError},
            {"connection closed mid-frame", rogueIp, kRogueClosePort, kSoakConnectMs, kPeerClosed,
             kPeerClosed},
            {"connection refused", rogueIp, kRogueClosePort + 1, kSoakConnectMs, kTcpConnectFailed,
             kTcpConnectFailed},
            // No answer within the limit; or, once the kernel has given up on
            // the address (its neighbour entry failed), unreachable at once.
            {"no host at the address", kUnreachableAddress, 4001, kSoakUnreachableConnectMs,
             kTcpConnectTimeout, kTcpConnectFailed},
            {"not a dotted address", "10.231.101.300", 4001, kSoakConnectMs, kTcpBadAddress,
             kTcpBadAddress},
        };
        const auto& chosen = ways[random() % std::size(ways)];
        outcome.faults.push_back(chosen.name);
        SetHost(channel, chosen.address, chosen.port);
        int result = 0;
        {
            SoakTimer timer(&outcome, chosen.connectMs + kSoakReplyTimeoutMs + kSoakSlackMs);
            result = SetId(channel, id, chosen.connectMs, &detail, &opened);
        }
        const bool connectionWay = chosen.result == kTcpConnectFailed ||
                                   chosen.result == kTcpConnectTimeout ||
                                   chosen.result == kTcpBadAddress;
        outcome.why =
            connectionWay && opened
                ? "an open that failed left the channel open"
                : Check(channel, result, result == chosen.alsoDocumented ? result : chosen.result,
                        detail, kNoDetail, id);
        outcome.asDocumented = outcome.why.empty();
        return outcome;
    }

    SoakDevice device = RandomSoakDevice(random, 0);
    const TcpFault& fault = TcpFaults()[random() % TcpFaults().size()];
    device.faults = fault.keys;
    outcome.faults.push_back(fault.name);
    SimProcess sim({"--device", device.Settings()});
    if (!Serving(sim, &outcome)) {
        return outcome;
    }
    SetHost(channel, device.IpText(), device.port);
    int result = 0;
    {
        SoakTimer timer(&outcome,
                        kSoakConnectMs + kSoakReplyTimeoutMs + fault.frameMs + kSoakSlackMs);
        result = SetId(channel, id, kSoakConnectMs, &detail, &opened);
    }
    outcome.why = opened ? Check(channel, result, fault.result, detail, fault.detail, id)
                         : "could not connect (" + std::to_string(result) + ")";
    outcome.asDocumented = outcome.why.empty();
    JudgeSimulator(sim, &outcome);
    return outcome;
}
