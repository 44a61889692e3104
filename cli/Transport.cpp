#include "cli/Transport.h"

#include <CLI/CLI.hpp>

#include <cstring>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "cli/Options.h"
#include "cli/Values.h"
#include "common/BaudRate.h"
#include "platform/SerialPort.h"

namespace {
constexpr char kDeviceFolder[] = "/dev/";
}  // namespace

void TransportChoice::AddOptions(CLI::App& command) {
    auto* host = command.add_option("-H,--host", this->host, "TCP: the device's IPv4 address")
                     ->type_name("ADDRESS")
                     ->check(AddressCheck());
    auto* port = command.add_option("-p,--port", this->port, "TCP: the device's service port")
                     ->type_name("PORT")
                     ->check(PortCheck());
    auto* serial =
        command
            .add_option("--serial", this->serial,
                        std::string("Serial: the port (") + SerialPortNameExamples() + ")")
            ->type_name("DEVICE");
    auto* baud = command
                     .add_option("--baud", this->baud,
                                 "Serial: the line speed, a rate the devices have (300 to 115200)")
                     ->type_name("BAUD")
                     ->check(BaudRateCheck())
                     ->default_str("19200");
    auto* hid =
        command
            .add_option("--hid", this->hid,
                        "USB HID: the device's vendor and product, VVVV:PPPP in hex")
            ->type_name("VVVV:PPPP")
            ->check(CLI::Validator(
                [](std::string& text) -> std::string {
                    std::string why;
                    return ReadHidIds(text, &why) ? std::string() : "'" + text + "' is " + why;
                },
                "", "HID"));
    host->needs(port);
    port->needs(host);
    baud->needs(serial);
    host->excludes(serial)->excludes(hid);
    serial->excludes(hid);
    command.callback([this] {
        if (this->host.empty() && this->serial.empty() && this->hid.empty()) {
            throw CLI::ValidationError("name the device: --host and --port, --serial or --hid");
        }
    });
}

std::optional<Failure> TransportChoice::Configure(COM_Class& channel) const {
    if (!host.empty()) {
        channel.Kind = TransportKind::Tcp;
        CopyAddressText(channel.HostAddress, DottedText(*ReadAddress(host)));
        channel.HostPort = *ReadPort(port);
        return std::nullopt;
    }
    if (!serial.empty()) {
        // The channel names a port the way other systems do; /dev/ is its
        // own folder.
        std::string name = serial;
        if (name.rfind(kDeviceFolder, 0) == 0) {
            name = name.substr(std::strlen(kDeviceFolder));
        }
        if (name.empty() || name.size() >= sizeof channel.PortName) {
            return Failure{kExitUsage,
                           "serial port '" + serial + "' has too long a name (" +
                               std::to_string(sizeof channel.PortName - 1) +
                               " characters at most, /dev/ not counted)",
                           {}};
        }
        channel.Kind = TransportKind::Serial;
        std::memset(channel.PortName, 0, sizeof channel.PortName);
        std::memcpy(channel.PortName, name.data(), name.size());
        uint32_t rate = 0;
        BaudRateForCode(*ReadBaudRate(baud), &rate);
        channel.BaudRate = rate;
        return std::nullopt;
    }
    const auto ids = ReadHidIds(hid);
    channel.Kind = TransportKind::Hid;
    channel.VendorId = ids->first;
    channel.ProductId = ids->second;
    return std::nullopt;
}

std::string TransportChoice::Describe() const {
    if (!host.empty()) {
        return host + ":" + port;
    }
    if (!serial.empty()) {
        return "serial port " + serial;
    }
    return "HID device " + hid;
}

Failure OpenFailure(const COM_Class& channel, const TransportChoice& choice, int code) {
    const std::string why = ChannelResultText(code, channel.Kind);
    switch (channel.Kind) {
        case TransportKind::Tcp:
            return {
                code == kTcpNoSocket || code == kTcpNonBlocking ? kExitLocal : kExitDeviceFailed,
                "cannot connect to " + choice.Describe() + ": " + why,
                {}};
        case TransportKind::Serial:
            return {kExitLocal,
                    "cannot open " + choice.Describe() + ": " + why +
                        (code == kSerialOpenFailed ? std::string("; ") + SerialOpenAdvice()
                                                   : std::string()),
                    {}};
        default:
            return {kExitNotFound, "cannot open " + choice.Describe() + ": " + why, {}};
    }
}
