// velquint set-id and velquint transact: one framed transaction over any of
// the channel's transports.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/Transport.h"
#include "cli/Values.h"
#include "idassign/DeviceId.h"

namespace {

constexpr uint32_t kLargestByte = 255;
constexpr uint32_t kLargestTimeoutMs = 600000;

// "-20 (the device refused the request, with a detail code)".
std::string ResultText(int result, uint8_t kind) {
    return std::to_string(result) + " (" + ChannelResultText(result, kind) + ")";
}

struct SetIdCommand {
    uint32_t id = 0;
    bool json = false;
    TransportChoice transport;

    int Run() const {
        COM_Class channel;
        transport.Configure(channel);
        const DeviceIdOutcome outcome = WriteDeviceId(channel, static_cast<uint8_t>(id));
        if (outcome.openResult < 0) {
            FailOpen(channel, transport, outcome.openResult);
        }
        if (json) {
            std::cout << nlohmann::ordered_json{{"id", id},
                                                {"device", transport.Describe()},
                                                {"written", outcome.Written()},
                                                {"result", outcome.result},
                                                {"text",
                                                 ChannelResultText(outcome.result, channel.Kind)}}
                             .dump(2)
                      << '\n';
        }
        if (!outcome.Written()) {
            std::string why = ResultText(outcome.result, channel.Kind);
            if (outcome.result == kTransactDeviceDetail) {
                why += ", detail code " + std::to_string(outcome.detail);
            }
            Fail(kExitDeviceFailed, "ID " + std::to_string(id) + " not written to " +
                                        transport.Describe() + ": " + why);
        }
        if (!json) {
            std::cout << "ID " << id << " written to " << transport.Describe() << '\n';
        }
        return kExitOk;
    }
};

struct TransactCommand {
    uint32_t function = 0;
    uint32_t command = 0;
    std::string data;
    uint32_t address = kDeviceIdAddress;
    uint32_t timeoutMs = kDeviceIdReplyLimitMs;
    bool json = false;
    TransportChoice transport;

    int Run() const {
        std::string why;
        const std::optional<std::string> bytes = ReadHexBytes(data, &why);
        if (!bytes) {
            Fail(kExitUsage, "data '" + data + "' is " + why);
        }
        COM_Class channel;
        transport.Configure(channel);
        const int opened = channel.Open(kDeviceIdConnectLimitMs);
        if (opened < 0) {
            FailOpen(channel, transport, opened);
        }
        int32_t detail = 0;
        const int result =
            channel.Transact(address, static_cast<uint8_t>(function), static_cast<uint8_t>(command),
                             static_cast<uint32_t>(bytes->size()),
                             reinterpret_cast<const uint8_t*>(bytes->data()), timeoutMs, &detail);
        channel.Close();

        // A whole reply came when the transaction succeeded or the device
        // refused it; otherwise there is no result byte or data to show.
        const bool wholeReply =
            result > 0 || (result <= kTransactDeviceDetail && result >= kTransactDeviceOther);
        const std::string replyData =
            HexText(channel.ReplyData, wholeReply ? channel.ReplyLength : 0);
        const bool hasDetail = result == kTransactDeviceDetail;
        char resultByte[8] = "-";
        if (wholeReply) {
            std::snprintf(resultByte, sizeof resultByte, "0x%02X", channel.ReplyResult & 0xFF);
        }
        if (json) {
            std::cout << nlohmann::ordered_json{{"result", result},
                                                {"text", ChannelResultText(result, channel.Kind)},
                                                {"resultByte",
                                                 wholeReply
                                                     ? nlohmann::ordered_json(channel.ReplyResult)
                                                     : nlohmann::ordered_json(nullptr)},
                                                {"data", replyData},
                                                {"detail", hasDetail
                                                               ? nlohmann::ordered_json(detail)
                                                               : nlohmann::ordered_json(nullptr)}}
                             .dump(2)
                      << '\n';
        } else {
            PrintTable(std::cout, {"FIELD", "VALUE"},
                       {{"result", ResultText(result, channel.Kind)},
                        {"result byte", resultByte},
                        {"data", replyData.empty() ? "-" : replyData},
                        {"detail", hasDetail ? std::to_string(detail) : "-"}});
        }
        return result >= 0 ? kExitOk : kExitDeviceFailed;
    }
};

}  // namespace

CommandRun AddSetIdCommand(CLI::App& app) {
    auto command = std::make_shared<SetIdCommand>();
    CLI::App* setId =
        app.add_subcommand("set-id", "Write a device's ID (0 to 255) with one transaction");
    setId->add_option("ID", command->id, "The new ID")
        ->required()
        ->check(CLI::Range(uint32_t{0}, kLargestByte));
    command->transport.AddOptions(*setId);
    setId->add_flag("-j,--json", command->json, "Write the outcome as JSON");
    setId->footer(
        "Over TCP the connection may take 5 s; the device has 3 s to answer. A serial port "
        "needs a user in the dialout group.");
    return [command] { return command->Run(); };
}

CommandRun AddTransactCommand(CLI::App& app) {
    auto command = std::make_shared<TransactCommand>();
    CLI::App* transact = app.add_subcommand(
        "transact", "Send one framed request and show the device's reply, for diagnostics");
    transact->add_option("FUNCTION", command->function, "Function code, 0 to 255")
        ->required()
        ->check(CLI::Range(uint32_t{0}, kLargestByte));
    transact->add_option("COMMAND", command->command, "Command code, 0 to 255")
        ->required()
        ->check(CLI::Range(uint32_t{0}, kLargestByte));
    transact->add_option("HEXDATA", command->data, "Data bytes in hex, such as 05 or \"0A 0B\"");
    transact->add_option("-a,--address", command->address, "Target address")->default_str("1");
    transact
        ->add_option("-t,--timeout", command->timeoutMs, "Milliseconds the device has to answer")
        ->check(CLI::Range(uint32_t{1}, kLargestTimeoutMs))
        ->default_str("3000");
    command->transport.AddOptions(*transact);
    transact->add_flag("-j,--json", command->json, "Write the outcome as JSON");
    return [command] { return command->Run(); };
}
