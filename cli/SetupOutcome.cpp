#include "cli/SetupOutcome.h"

#include <ostream>

#include "cli/Cli.h"
#include "common/BaudRate.h"
#include "setup/SendSetupRequest.h"

namespace {

template <typename Value>
bool Take(const std::optional<Value>& wanted, const std::optional<Value>& reported, Value* value) {
    if (wanted) {
        *value = *wanted;
        return true;
    }
    if (reported) {
        *value = *reported;
        return true;
    }
    return false;
}

}  // namespace

bool MergeSettings(const FoundDevice& device, const SettingsWanted& wanted, TargetSettings* target,
                   std::string* missing) {
    const struct {
        bool taken;
        const char* name;
    } fields[] = {
        {Take(wanted.ip, device.ip, &target->ip), "IP address"},
        {Take(wanted.mask, device.mask, &target->mask), "subnet mask"},
        {Take(wanted.gateway, device.gateway, &target->gateway), "gateway"},
        {Take(wanted.port, device.port, &target->port), "port"},
        {Take(wanted.baudCode, device.baudCode, &target->baudCode), "baud rate"},
    };
    for (const auto& field : fields) {
        if (!field.taken) {
            *missing = field.name;
            return false;
        }
    }
    return true;
}

TargetSettings MergeSettings(const FoundDevice& device, const SettingsWanted& wanted) {
    TargetSettings target;
    std::string missing;
    if (!MergeSettings(device, wanted, &target, &missing)) {
        Fail(kExitUsage, "device " + MacText(device.mac) + " reports no " + missing +
                             ": name the value to set");
    }
    return target;
}

bool AlreadySet(const FoundDevice& device, const TargetSettings& target) {
    return device.ip == target.ip && device.mask == target.mask &&
           device.gateway == target.gateway && device.port == target.port &&
           device.baudCode == target.baudCode;
}

SetupRequest MakeSetupRequest(const FoundDevice& device, const TargetSettings& target,
                              bool broadcast) {
    SetupRequest request;
    std::copy(device.mac.begin(), device.mac.end(), request.Mac);
    CopyAddressText(request.NewIp, DottedText(target.ip));
    CopyAddressText(request.NewMask, DottedText(target.mask));
    CopyAddressText(request.NewGateway, DottedText(target.gateway));
    request.Port = target.port;
    request.BaudCode = target.baudCode;
    request.ReplyWaitSeconds = kSetupReplyWaitSeconds;
    if (device.ip) {
        CopyAddressText(request.CurrentIp, DottedText(*device.ip));
    }
    request.Broadcast = broadcast ? 1 : 0;
    request.Command = kSetupCommand;
    return request;
}

void FailOnLocalSetupError(int result) {
    switch (result) {
        case kSetupSocketFailed:
        case kSetupBroadcastOptionFailed:
        case kSetupDontRouteOptionFailed:
            Fail(kExitLocal, "cannot open a UDP socket for the setup");
        case kSetupBindFailed:
            Fail(kExitLocal, "port 3195 is in use by another program");
        case kSetupSendFailed:
            Fail(kExitLocal, "the setup datagram went out of no interface");
        case kSetupWaitFailed:
            Fail(kExitLocal, "waiting for the confirmation failed");
        case kSetupNewIpRefused:
        case kSetupNewMaskRefused:
        case kSetupNewGatewayRefused:
        case kSetupCurrentIpRefused:
        case kSetupAddressTextUnterminated:
            // The command line and the plan refuse such addresses first;
            // 255.255.255.255 is the one a device may report itself.
            Fail(kExitUsage, "an address of the setup cannot be sent (255.255.255.255?)");
        default:
            return;
    }
}

std::string BaudText(uint8_t code) {
    uint32_t rate = 0;
    return BaudRateForCode(code, &rate) ? std::to_string(rate) : "[" + std::to_string(code) + "]";
}

std::vector<FieldComparison> CompareSettings(const TargetSettings& target, const FoundDevice* now) {
    const auto address = [](const std::optional<uint32_t>& value) {
        return value ? DottedText(*value) : std::string("-");
    };
    const FoundDevice none;
    const FoundDevice& reported = now != nullptr ? *now : none;
    std::vector<FieldComparison> fields = {
        {"ip", DottedText(target.ip), address(reported.ip), reported.ip == target.ip},
        {"mask", DottedText(target.mask), address(reported.mask), reported.mask == target.mask},
        {"gateway", DottedText(target.gateway), address(reported.gateway),
         reported.gateway == target.gateway},
        {"port", std::to_string(target.port), reported.port ? std::to_string(*reported.port) : "-",
         reported.port == target.port},
        {"baud", BaudText(target.baudCode), reported.baudCode ? BaudText(*reported.baudCode) : "-",
         reported.baudCode == target.baudCode},
    };
    return fields;
}

bool AllMatch(const std::vector<FieldComparison>& fields) {
    for (const FieldComparison& field : fields) {
        if (!field.matches) {
            return false;
        }
    }
    return true;
}

nlohmann::ordered_json ComparisonJson(const std::vector<FieldComparison>& fields) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const FieldComparison& field : fields) {
        list.push_back({{"field", field.field},
                        {"asked", field.asked},
                        {"now", field.now},
                        {"matches", field.matches}});
    }
    return list;
}

void PrintComparison(std::ostream& out, const std::vector<FieldComparison>& fields) {
    std::vector<std::vector<std::string>> rows;
    for (const FieldComparison& field : fields) {
        rows.push_back({field.field, field.asked, field.now, field.matches ? "" : "differs"});
    }
    PrintTable(out, {"FIELD", "ASKED", "NOW", ""}, rows);
}
