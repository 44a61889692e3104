#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/Cli.h"

class COM_Class;

namespace CLI {
class App;
}

// Which of the channel's transports a command talks over, as the command line
// names it: --host and --port (TCP), --serial and --baud, or --hid.
struct TransportChoice {
    std::string host;
    std::string port;
    std::string serial;
    std::string baud = "19200";
    std::string hid;

    // Adds the options to `command`; exactly one transport must be named.
    void AddOptions(CLI::App& command);

    // Sets the channel's kind and that transport's fields (the options'
    // validators have read every value). A serial port name that does not
    // fit the channel is refused.
    std::optional<Failure> Configure(COM_Class& channel) const;

    // "10.0.0.5:4001", "serial port ttyUSB0", "HID device 1234:ABCD".
    std::string Describe() const;
};

// The failure of an Open of `channel` that gave `code`, with the status it
// deserves: no connection is the device's failing, no serial port or socket
// this machine's, no HID device a device not found.
Failure OpenFailure(const COM_Class& channel, const TransportChoice& choice, int code);
