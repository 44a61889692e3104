#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/SimFrame.h"
#include "sim/SimLoop.h"

// Each device's TCP service: a listener on the device's address and service
// port that takes framed requests and answers them as the device's TCP
// behaviour says. A Set ID request (function 2, command 90) stores its first
// data byte as the device's ID; the reply carries the stored ID. Any other
// request is answered with a plain failure result.
class SimTcp {
public:
    SimTcp(SimLoop& loop, std::vector<SimDevice>& devices) : loop_(loop), devices_(devices) {}
    ~SimTcp();
    SimTcp(const SimTcp&) = delete;
    SimTcp& operator=(const SimTcp&) = delete;

    // Starts every device's service at its own address, or at `bindAddress`
    // for all of them when it is given (loopback). A port of 0 takes any free
    // port; devices with the same address and port share the first one's
    // service. False with a message on failure.
    bool Open(const std::string& bindAddress, std::string* error);

    // Every request frame received is written to `path` as one line,
    // "<device address>:<port> <hex bytes>", with " bad" behind a frame that
    // does not hold together.
    bool RecordTo(const std::string& path, std::string* error);

    // Where device `device` listens now, as "address:port".
    std::string Endpoint(size_t device) const;

    // Serves device `device`'s framed requests over a pseudo-terminal as well,
    // as a device on a serial line does; `path` is the terminal's side for
    // the tool. The simulator keeps that side open itself, so the tool may
    // open and close it any number of times.
    bool ServePty(size_t device, std::string* path, std::string* error);

    // Moves device `device`'s service to its present address and port when a
    // setup has changed them; connections already open stay as they are.
    // Also starts the service again after Halt.
    bool Follow(size_t device, std::string* error);

    // Stops device `device`'s service while it restarts: its listener closes,
    // so a connect is refused, and so do the connections it holds. A device
    // that shared the address and port takes the service over.
    bool Halt(size_t device, std::string* error);

private:
    struct Listener {
        int fd = -1;           // -1 while the service is another device's or it restarts
        uint32_t address = 0;  // host byte order
        uint16_t port = 0;
    };
    struct Connection {
        int fd = -1;
        size_t device = 0;
        bool serial = false;  // the pseudo-terminal, which no restart closes
        SimRequestReader reader;
        uint64_t floodUntilMs = 0;  // a flood runs until then (SimLoop::NowMs)
    };
    using ConnectionPtr = std::shared_ptr<Connection>;

    bool Listen(size_t device, std::string* error);
    bool Release(size_t device, std::string* error);
    void Accept(size_t device);
    void Receive(const ConnectionPtr& connection);
    void Handle(const ConnectionPtr& connection, const SimFrameSeen& frame);
    void Answer(const ConnectionPtr& connection, const SimRequest& request);
    void Trickle(const ConnectionPtr& connection, size_t n);
    using SharedBytes = std::shared_ptr<const std::vector<uint8_t>>;
    void Drip(const ConnectionPtr& connection, const SharedBytes& bytes, size_t next);
    void Pace(const ConnectionPtr& connection, const SharedBytes& bytes, size_t next,
              uint64_t startMs);
    void StartFlood(const ConnectionPtr& connection);
    void Flood(const ConnectionPtr& connection);
    void Send(const ConnectionPtr& connection, const std::vector<uint8_t>& bytes);
    void Drop(const ConnectionPtr& connection);
    void Record(size_t device, const SimFrameSeen& frame);

    SimLoop& loop_;
    std::vector<SimDevice>& devices_;
    std::string bindAddress_;
    std::vector<Listener> listeners_;
    std::vector<ConnectionPtr> connections_;
    std::vector<int> ptyTerminals_;  // the terminal sides kept open
    FILE* record_ = nullptr;
};
