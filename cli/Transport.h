#pragma once

#include <cstdint>
#include <string>

class COM_Class;

namespace CLI {
class App;
}

// Which of the channel's transports a command talks over, as the command line
// names it: --host and --port (TCP), --serial and --baud, or --hid.
struct TransportChoice {
    std::string host;
    uint32_t port = 0;
    std::string serial;
    uint32_t baud = 19200;
    std::string hid;

    // Adds the options to `command`; exactly one transport must be named.
    void AddOptions(CLI::App& command);

    // Sets the channel's kind and that transport's fields; refuses values
    // that do not fit them.
    void Configure(COM_Class& channel) const;

    // "10.0.0.5:4001", "serial port ttyUSB0", "HID device 1234:ABCD".
    std::string Describe() const;
};

// Ends the command for a failed Open of `channel`, with the exit code and
// message the failure deserves.
[[noreturn]] void FailOpen(const COM_Class& channel, const TransportChoice& choice, int code);
