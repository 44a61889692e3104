// velquint set-id and velquint transact: one framed transaction over any of
// the channel's transports.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <ostream>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/Transport.h"
#include "cli/Commands.h"
#include "cli/HelpText.h"
#include "cli/Options.h"
#include "cli/Transport.h"
#include "cli/Values.h"
#include "idassign/DeviceId.h"

namespace {

constexpr uint32_t kLargestTimeoutMs = 600000;

// "-20 (the device refused the request, with a detail code)".
std::string ResultText(int result, uint8_t kind) {
    return std::to_string(result) + " (" + ChannelResultText(result, kind) + ")";
}

nlohmann::ordered_json NumberOrNull(bool known, int64_t value) {
    return known ? nlohmann::ordered_json(value) : nlohmann::ordered_json(nullptr);
}

// What one Set ID did.
class SetIdReport : public Shown {
public:
    // `readBack`: the ID the answer carries, -1 for none.
    SetIdReport(uint8_t id, std::string device, int result, int32_t detail, uint8_t kind,
                int readBack)
        : id_(id),
          device_(std::move(device)),
          result_(result),
          detail_(detail),
          kind_(kind),
          readBack_(readBack) {}

    bool Written() const { return result_ >= 0 && readBack_ == id_; }
    bool ReadBack() const { return readBack_ >= 0; }

    void Table(std::ostream& out) const override {
        if (Written()) {
            out << "ID " << static_cast<int>(id_) << " written to " << device_ << '\n';
        }
    }

    nlohmann::ordered_json Json() const override {
        return {{"id", id_},
                {"device", device_},
                {"written", Written()},
                {"result", result_},
                {"text", ChannelResultText(result_, kind_)},
                {"readBack", NumberOrNull(ReadBack(), readBack_)},
                {"detail", NumberOrNull(result_ == kTransactDeviceDetail, detail_)}};
    }

    // Why the ID was not written.
    std::string Why() const {
        if (result_ < 0) {
            std::string why = ResultText(result_, kind_);
            if (result_ == kTransactDeviceDetail) {
                why += ", detail code " + std::to_string(detail_);
            }
            return why;
        }
        return ReadBack() ? "the device answered with ID " + std::to_string(readBack_)
                          : "the device's answer carried no ID";
    }

private:
    uint8_t id_;
    std::string device_;
    int result_;
    int32_t detail_;
    uint8_t kind_;
    int readBack_;
};

struct SetIdCommand {
    std::string id;
    TransportChoice transport;

    CommandResult Run() const {
        const uint8_t value = *ReadId(id);
        COM_Class channel;
        FailOn(transport.Configure(channel));
        const DeviceIdOutcome outcome = WriteDeviceId(channel, value);
        if (outcome.openResult < 0) {
            Fail(OpenFailure(channel, transport, outcome.openResult));
        }
        const int readBack = outcome.result >= 1 ? channel.ReplyData[0] : -1;
        const auto report = std::make_shared<SetIdReport>(
            value, transport.Describe(), outcome.result, outcome.detail, channel.Kind, readBack);
        CommandResult result;
        result.shown = report;
        if (!report->Written()) {
            result.status = kExitDeviceFailed;
            result.closing =
                "ID " + id + " not written to " + transport.Describe() + ": " + report->Why();
            result.closingIsWarning = true;
        }
        return result;
    }
};

// What one transaction brought back.
class TransactReport : public Shown {
public:
    TransactReport(int result, const COM_Class& channel, int32_t detail)
        : result_(result),
          kind_(channel.Kind),
          // A whole reply came when the transaction succeeded or the device
          // refused it; otherwise there is no result byte or data to show.
          wholeReply_(result > 0 ||
                      (result <= kTransactDeviceDetail && result >= kTransactDeviceOther)),
          resultByte_(channel.ReplyResult),
          data_(HexText(channel.ReplyData, wholeReply_ ? channel.ReplyLength : 0)),
          detail_(detail) {}

    void Table(std::ostream& out) const override {
        char resultByte[8] = "-";
        if (wholeReply_) {
            std::snprintf(resultByte, sizeof resultByte, "0x%02X", resultByte_ & 0xFF);
        }
        PrintTable(out, {"FIELD", "VALUE"},
                   {{"result", ResultText(result_, kind_)},
                    {"result byte", resultByte},
                    {"data", data_.empty() ? "-" : data_},
                    {"detail", HasDetail() ? std::to_string(detail_) : "-"}});
    }

    nlohmann::ordered_json Json() const override {
        return {{"result", result_},
                {"text", ChannelResultText(result_, kind_)},
                {"resultByte", NumberOrNull(wholeReply_, resultByte_)},
                {"data", data_},
                {"detail", NumberOrNull(HasDetail(), detail_)}};
    }

private:
    bool HasDetail() const { return result_ == kTransactDeviceDetail; }

    int result_;
    uint8_t kind_;
    bool wholeReply_;
    uint32_t resultByte_;
    std::string data_;
    int32_t detail_;
};

struct TransactCommand {
    std::string function;
    std::string command;
    std::string data;
    uint32_t address = kDeviceIdAddress;
    uint32_t timeoutMs = kDeviceIdReplyLimitMs;
    TransportChoice transport;

    CommandResult Run() const {
        std::string why;
        const std::optional<std::string> bytes = ReadHexBytes(data, &why);
        if (!bytes) {
            Fail(kExitUsage, "data '" + data + "' is " + why);
        }
        COM_Class channel;
        FailOn(transport.Configure(channel));
        const int opened = channel.Open(kDeviceIdConnectLimitMs);
        if (opened < 0) {
            Fail(OpenFailure(channel, transport, opened));
        }
        int32_t detail = 0;
        const int result =
            channel.Transact(address, static_cast<uint8_t>(*ReadNumber(function, 0, kLargestByte)),
                             static_cast<uint8_t>(*ReadNumber(command, 0, kLargestByte)),
                             static_cast<uint32_t>(bytes->size()),
                             reinterpret_cast<const uint8_t*>(bytes->data()), timeoutMs, &detail);
        channel.Close();
        CommandResult outcome;
        outcome.shown = std::make_shared<TransactReport>(result, channel, detail);
        outcome.status = result >= 0 ? kExitOk : kExitDeviceFailed;
        return outcome;
    }
};

}  // namespace

std::string SetIdFooter() {
    return Wrapped("Over TCP the connection may take " + Duration(kDeviceIdConnectLimitMs) +
                   "; the device has " + Duration(kDeviceIdReplyLimitMs) +
                   " to begin its answer, each byte of it restarts that wait, and the answer as "
                   "a whole has no more than that and the time its length needs on the line "
                   "(over TCP " +
                   Duration(static_cast<int>(kTcpFrameAllowanceMs)) +
                   " more; see SET ID in the manual). The ID the answer carries must be the ID "
                   "written. A serial port needs a user in the dialout group.");
}

std::string TransactFooter() {
    return Wrapped(
        "Shows the result with its meaning, the reply's result byte, its data and the "
        "device's detail code; the exit status is 1 when the result is a failure.");
}

CommandRun AddSetIdCommand(CLI::App& setId) {
    auto command = std::make_shared<SetIdCommand>();
    setId.add_option("ID", command->id, "The new ID, 0 to 255")
        ->type_name("ID")
        ->check(IdCheck())
        ->required();
    command->transport.AddOptions(setId);
    return {[command](const CommandContext&) { return command->Run(); }};
}

CommandRun AddTransactCommand(CLI::App& transact) {
    auto command = std::make_shared<TransactCommand>();
    transact.add_option("FUNCTION", command->function, "Function code, 0 to 255")
        ->type_name("FUNCTION")
        ->check(NumberCheck(0, kLargestByte))
        ->required();
    transact.add_option("COMMAND", command->command, "Command code, 0 to 255")
        ->type_name("COMMAND")
        ->check(NumberCheck(0, kLargestByte))
        ->required();
    transact.add_option("HEXDATA", command->data, "Data bytes in hex, such as 05 or \"0A 0B\"")
        ->type_name("HEXDATA");
    transact
        .add_option("-a,--address", command->address,
                    "Target address, 0 to " + std::to_string(UINT32_MAX))
        ->type_name("N")
        ->check(NumberCheck(0, UINT32_MAX))
        ->default_str(std::to_string(kDeviceIdAddress));
    transact
        .add_option(
            "-t,--timeout", command->timeoutMs,
            "Milliseconds the device has to answer, 1 to " + std::to_string(kLargestTimeoutMs))
        ->type_name("MS")
        ->check(NumberCheck(1, kLargestTimeoutMs))
        ->default_str(std::to_string(kDeviceIdReplyLimitMs));
    command->transport.AddOptions(transact);
    return {[command](const CommandContext&) { return command->Run(); }};
}
