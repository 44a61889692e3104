// Setups, by broadcast or straight to the device, against a device whose
// answer misbehaves, beside bystanders that answer nothing, now and then with
// garbage from the rogue peer. A setup succeeds exactly when the device's
// answers include a confirmation in time; every other way ends with the code
// of its cause.
#include <cstring>
#include <string>
#include <vector>

#include "setup/SendSetupRequest.h"
#include "tests/soak/RoguePeer.h"
#include "tests/soak/Soak.h"
#include "tests/support/LabSupport.h"

namespace {

constexpr unsigned kMostBystanders = 2;
constexpr unsigned kGarbageBurst = 20;
constexpr int kInTimeDelayMs = 300;  // well inside the 1 s reply wait
constexpr int kLateDelayMs = 2500;   // after the 1 s reply wait has ended

struct SetupFault {
    const char* name;
    std::string keys;  // the simulator's setup keys for the device
    int result;        // what SendSetupRequest answers
};

const std::vector<SetupFault>& SetupFaults() {
    static const std::vector<SetupFault> faults = {
        {"confirms", "", kSetupSuccess},
        {"confirms with code 3", "setup-code=3", kSetupSuccess},
        {"confirms after a delay", "setup-delay=" + std::to_string(kInTimeDelayMs), kSetupSuccess},
        {"another MAC first, then confirms", "setup-reply=other-mac+confirm", kSetupSuccess},
        {"noise, then confirms",
         "setup-noise=100,setup-noise-for=600,setup-delay=" + std::to_string(kInTimeDelayMs),
         kSetupSuccess},
        {"13-byte answer", "setup-reply=short", kSetupNoReply},
        {"another MAC only", "setup-reply=other-mac", kSetupNoReply},
        {"discovery reply instead", "setup-reply=discovery", kSetupNoReply},
        {"request identifier", "setup-reply=request-ident", kSetupNoReply},
        {"oversized answer", "setup-reply=oversized", kSetupNoReply},
        {"no answer", "setup-reply=none", kSetupNoReply},
        {"answers too late", "setup-delay=" + std::to_string(kLateDelayMs), kSetupNoReply},
        {"endless noise, no confirmation", "setup-reply=none,setup-noise=200",
         kSetupWaitCapReached},
        {"confirmation cut to 14 bytes", "setup-length=14", kSetupSuccess},
    };
    return faults;
}

void CopyText(char (&field)[kAddressTextFieldSize], const std::string& text) {
    CopyAddressText(field, text);
}

}  // namespace

SoakOutcome SoakSetup(SoakContext& context) {
    std::mt19937& random = context.random;
    const bool broadcast = random() % 2 == 0;
    SoakOutcome outcome{broadcast ? "broadcast setup" : "direct setup", {}, true, {}};

    std::vector<std::string> arguments;
    const unsigned bystanders = random() % (kMostBystanders + 1);
    const unsigned target = random() % (bystanders + 1);
    SoakDevice device;
    const SetupFault* fault = nullptr;
    for (unsigned i = 0; i <= bystanders; ++i) {
        SoakDevice candidate = RandomSoakDevice(random, i);
        if (i == target) {
            fault = &SetupFaults()[random() % SetupFaults().size()];
            candidate.faults = fault->keys;
            device = candidate;
        } else {
            // A bystander takes no setup that names another MAC, and says
            // nothing either way.
            candidate.faults = "setup-reply=none";
        }
        arguments.push_back("--device");
        arguments.push_back(candidate.Settings());
    }
    outcome.faults.push_back(fault->name);

    SetupRequest request;
    std::memcpy(request.Mac, device.mac.data(), device.mac.size());
    const std::string prefix = DeviceNetPrefix(0);
    CopyText(request.NewIp, prefix + std::to_string(150 + random() % 100));
    // Now and then a mask that the conversion refuses: nothing may be sent.
    const bool refusedMask = random() % 16 == 0;
    CopyText(request.NewMask, refusedMask ? "255.255.255.255" : "255.255.255.0");
    CopyText(request.NewGateway, prefix + "1");
    CopyText(request.CurrentIp, device.IpText());
    request.Port = static_cast<uint16_t>(random());
    request.BaudCode = static_cast<uint8_t>(random() % 9 == 8 ? kSetupNoBaudCode : random() % 8);
    request.ReplyWaitSeconds = kSoakSetupReplyWaitSeconds;
    request.Broadcast = broadcast ? 1 : 0;
    int expected = fault->result;
    if (refusedMask) {
        outcome.faults.push_back("refused subnet mask");
        expected = kSetupNewMaskRefused;
    }
    const bool garbage = random() % 4 == 0;
    if (garbage) {
        outcome.faults.push_back("garbage datagrams");
    }

    SimProcess sim(arguments);
    if (!Serving(sim, &outcome)) {
        return outcome;
    }
    if (garbage) {
        context.rogue.SendGarbage(kGarbageBurst);
    }
    int result = 0;
    {
        // A setup's last wait may start just before the cap and last a full
        // reply wait.
        SoakTimer timer(&outcome,
                        kSoakSetupCapMs + kSoakSetupReplyWaitSeconds * 1000 + kSoakSlackMs);
        result = SendSetupRequest(request, kSoakSetupCapMs);
    }
    if (result != expected) {
        outcome.asDocumented = false;
        outcome.why =
            "answered " + std::to_string(result) + ", expected " + std::to_string(expected);
    }
    JudgeSimulator(sim, &outcome);
    return outcome;
}
