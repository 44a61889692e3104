#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

// velquint-sim with its TCP services alone, on 127.0.0.1 (--loopback), for
// tests and benchmarks that talk to simulated devices without the lab. Its
// program comes from VELQUINT_SIM. Every request frame the devices take is
// recorded, so that a test can read the exact bytes the tool sent.
class LoopbackSim {
public:
    struct Frame {
        std::string endpoint;  // "127.0.0.1:<port>"
        std::vector<uint8_t> bytes;
        bool valid = false;  // the frame held together
    };

    // Starts the simulator with `arguments` (devices and their keys) and
    // returns once it listens, or has failed.
    explicit LoopbackSim(const std::vector<std::string>& arguments);
    ~LoopbackSim();
    LoopbackSim(const LoopbackSim&) = delete;
    LoopbackSim& operator=(const LoopbackSim&) = delete;

    bool ready() const { return ready_; }
    // Why the simulator is not ready, for a failure message.
    const std::string& failure() const { return failure_; }

    // The service port of device `device` (in the order of the arguments).
    uint16_t Port(size_t device = 0) const;
    // The first device's pseudo-terminal ("pts/3") when started with --pty;
    // empty otherwise.
    const std::string& PtyName() const { return ptyName_; }

    // The request frames taken so far, in order of arrival.
    std::vector<Frame> Frames() const;

    // Ends the simulator; returns its wait status.
    int Stop();

private:
    std::unique_ptr<ChildProcess> process_;
    bool ready_ = false;
    std::string failure_;
    std::string recordPath_;
    std::vector<uint16_t> ports_;
    std::string ptyName_;
};

// "19 01 ..." for failure messages.
std::string HexText(const std::vector<uint8_t>& bytes);
