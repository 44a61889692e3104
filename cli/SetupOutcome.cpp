#include "cli/SetupOutcome.h"

#include <ostream>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "cli/Cli.h"
#include "common/BaudRate.h"

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

// A reported address that no setup can carry (the all-ones address) is no
// value to keep.
std::optional<uint32_t> Usable(const std::optional<uint32_t>& reported) {
    return reported == kAllOnesAddress ? std::nullopt : reported;
}

}  // namespace

bool MergeSettings(const FoundDevice& device, const SettingsWanted& wanted, TargetSettings* target,
                   std::string* missing) {
    const struct {
        bool taken;
        const char* name;
    } fields[] = {
        {Take(wanted.ip, Usable(device.ip), &target->ip), "usable IP address"},
        {Take(wanted.mask, Usable(device.mask), &target->mask), "usable subnet mask"},
        {Take(wanted.gateway, Usable(device.gateway), &target->gateway), "usable gateway"},
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

bool AlreadySet(const FoundDevice& device, const TargetSettings& target) {
    return device.ip == target.ip && device.mask == target.mask &&
           device.gateway == target.gateway && device.port == target.port &&
           device.baudCode == target.baudCode;
}

SetupValues SetupValuesFor(const Mac& mac, const TargetSettings& target) {
    SetupValues values;
    std::copy(mac.begin(), mac.end(), values.mac);
    values.ip = target.ip;
    values.mask = target.mask;
    values.gateway = target.gateway;
    values.port = target.port;
    values.baudCode = target.baudCode;
    return values;
}

std::string BaudText(uint8_t code) {
    uint32_t rate = 0;
    return BaudRateForCode(code, &rate) ? std::to_string(rate) : "[" + std::to_string(code) + "]";
}

std::vector<FieldComparison> CompareSettings(const TargetSettings& target, const FoundDevice* now) {
    const FoundDevice none;
    const FoundDevice& reported = now != nullptr ? *now : none;
    const auto address = [](const char* name, uint32_t asked,
                            const std::optional<uint32_t>& value) {
        return FieldComparison{name, DottedText(asked), value ? DottedText(*value) : "-",
                               value == asked, false};
    };
    return {
        address("ip", target.ip, reported.ip),
        address("mask", target.mask, reported.mask),
        address("gateway", target.gateway, reported.gateway),
        {"port", std::to_string(target.port), reported.port ? std::to_string(*reported.port) : "-",
         reported.port == target.port, true},
        {"baud", BaudText(target.baudCode), reported.baudCode ? BaudText(*reported.baudCode) : "-",
         reported.baudCode == target.baudCode, true},
    };
}

bool AllMatch(const std::vector<FieldComparison>& fields) {
    for (const FieldComparison& field : fields) {
        if (!field.matches) {
            return false;
        }
    }
    return true;
}

void PrintComparison(std::ostream& out, const std::vector<FieldComparison>& fields) {
    std::vector<std::vector<std::string>> rows;
    for (const FieldComparison& field : fields) {
        rows.push_back({field.field, field.asked, field.now, field.matches ? "" : "differs"});
    }
    PrintTable(out, {"FIELD", "ASKED", "NOW", ""}, rows);
}

RowOutcome DescribeResult(const CommissionResult& result, const std::optional<uint8_t>& id,
                          bool setupNeeded, int settleSeconds, const TargetSettings& target,
                          const std::optional<FoundDevice>& now) {
    const std::string within = "within " + std::to_string(settleSeconds) + " s";
    switch (result.outcome) {
        case CommissionOutcome::Verified:
            return {OutcomeKind::Verified, setupNeeded && !result.confirmed
                                               ? "no confirmation came; seen with the asked values"
                                               : ""};
        case CommissionOutcome::Confirmed:
            return {OutcomeKind::Confirmed, ""};
        case CommissionOutcome::NotConfirmed:
            return {OutcomeKind::NotConfirmed,
                    result.setupDatagrams == 0
                        ? "the setup datagram could not be sent"
                        : "no confirmation to " + std::to_string(result.setupDatagrams) +
                              " setup datagram" + (result.setupDatagrams == 1 ? "" : "s") +
                              ", and not seen with the asked values " + within};
        case CommissionOutcome::NotBack:
            return {OutcomeKind::NotBack, "no answer to the searches " + within + " of the setup"};
        case CommissionOutcome::OtherValues: {
            std::string detail;
            for (const FieldComparison& field : CompareSettings(target, now ? &*now : nullptr)) {
                if (!field.matches) {
                    detail += (detail.empty() ? "" : ", ") + field.field + ": asked " +
                              field.asked + ", now " + field.now;
                }
            }
            return {OutcomeKind::OtherValues, detail};
        }
        case CommissionOutcome::Interrupted:
            return {OutcomeKind::Interrupted, "stopped (Ctrl-C or SIGTERM) before the row ended"};
        case CommissionOutcome::IdNotWritten:
            break;
    }
    std::string why;
    if (result.idResult < 0) {
        why = ChannelResultText(result.idResult, TransportKind::Tcp);
        if (result.idResult == kTransactDeviceDetail) {
            why += " " + std::to_string(result.idDetail);
        }
        if (result.idAttempts > 1) {
            why += " (" + std::to_string(result.idAttempts) + " attempts " + within + ")";
        }
    } else if (result.idReadBack) {
        why = "the device answered with ID " + std::to_string(*result.idReadBack) + ", not " +
              std::to_string(id.value_or(0));
    } else {
        why = "the device's answer carried no ID";
    }
    return {OutcomeKind::IdNotWritten, why};
}
