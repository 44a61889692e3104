#include "cli/Transport.h"

#include <CLI/CLI.hpp>

#include <cstring>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "cli/Cli.h"
#include "cli/Values.h"

namespace {
constexpr char kDeviceFolder[] = "/dev/";
constexpr uint32_t kLargestPort = 65535;
}  // namespace

void TransportChoice::AddOptions(CLI::App& command) {
    auto* host = command.add_option("-H,--host", this->host, "TCP: the device's IPv4 address");
    auto* port = command.add_option("-p,--port", this->port, "TCP: the device's service port")
                     ->check(CLI::Range(uint32_t{1}, kLargestPort));
    auto* serial = command.add_option("--serial", this->serial,
                                      "Serial: the port (ttyUSB0, /dev/ttyS0, COM1 for ttyS0)");
    auto* baud =
        command.add_option("--baud", this->baud, "Serial: the line speed")->default_str("19200");
    auto* hid = command.add_option("--hid", this->hid,
                                   "USB HID: the device's vendor and product, VVVV:PPPP in hex");
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

void TransportChoice::Configure(COM_Class& channel) const {
    std::string why;
    if (!host.empty()) {
        if (!ReadAddress(host, &why)) {
            Fail(kExitUsage, "host '" + host + "' is " + why);
        }
        channel.Kind = TransportKind::Tcp;
        CopyAddressText(channel.HostAddress, host);
        channel.HostPort = static_cast<uint16_t>(port);
        return;
    }
    if (!serial.empty()) {
        // The channel names a port the way other systems do; /dev/ is its
        // own folder.
        std::string name = serial;
        if (name.rfind(kDeviceFolder, 0) == 0) {
            name = name.substr(std::strlen(kDeviceFolder));
        }
        if (name.empty() || name.size() >= sizeof channel.PortName) {
            Fail(kExitUsage, "serial port '" + serial + "' has too long a name (" +
                                 std::to_string(sizeof channel.PortName - 1) +
                                 " characters at most, /dev/ not counted)");
        }
        channel.Kind = TransportKind::Serial;
        std::memset(channel.PortName, 0, sizeof channel.PortName);
        std::memcpy(channel.PortName, name.data(), name.size());
        channel.BaudRate = baud;
        return;
    }
    const auto ids = ReadHidIds(hid, &why);
    if (!ids) {
        Fail(kExitUsage, "'" + hid + "' is " + why);
    }
    channel.Kind = TransportKind::Hid;
    channel.VendorId = ids->first;
    channel.ProductId = ids->second;
}

std::string TransportChoice::Describe() const {
    if (!host.empty()) {
        return host + ":" + std::to_string(port);
    }
    if (!serial.empty()) {
        return "serial port " + serial;
    }
    return "HID device " + hid;
}

void FailOpen(const COM_Class& channel, const TransportChoice& choice, int code) {
    const std::string why = ChannelResultText(code, channel.Kind);
    switch (channel.Kind) {
        case TransportKind::Tcp:
            // No connection is the device's failing, not this machine's.
            Fail(code == kTcpNoSocket || code == kTcpNonBlocking ? kExitLocal : kExitDeviceFailed,
                 "cannot connect to " + choice.Describe() + ": " + why);
        case TransportKind::Serial:
            Fail(kExitLocal, "cannot open " + choice.Describe() + ": " + why +
                                 (code == kSerialOpenFailed
                                      ? "; serial ports open only for users in the dialout group"
                                      : ""));
        default:
            Fail(kExitNotFound, "cannot open " + choice.Describe() + ": " + why);
    }
}
