#pragma once

#include <cstdint>
#include <string>

#include "tests/support/LabSupport.h"

// The soak's own adversary, for the faults the simulator does not play: a
// process in a device namespace that sends the tool bursts of garbage
// datagrams on port 3195, and serves two TCP ports whose connections end in
// the middle of a reply frame, by a reset on one and by an orderly close on
// the other.
struct RoguePorts {
    uint16_t reset = 0;  // the connection is reset after part of the reply
    uint16_t close = 0;  // the connection is closed after part of the reply
};

// The peer's side: runs until its standard input ends. Reads lines
// "garbage N" (send N garbage datagrams to the tool, a few ms apart).
int RunRoguePeer(const std::string& toolIp, const std::string& listenIp, RoguePorts ports,
                 uint32_t seed);

// The soak's side: starts the peer in a lab device namespace (this very
// program with --rogue) and tells it what to do.
class RogueProcess {
public:
    RogueProcess(const std::string& deviceNamespace, const std::string& toolIp,
                 const std::string& listenIp, RoguePorts ports, uint32_t seed);
    ~RogueProcess();
    RogueProcess(const RogueProcess&) = delete;
    RogueProcess& operator=(const RogueProcess&) = delete;

    bool ready() const { return peer_.ready(); }
    const std::string& failure() const { return peer_.failure(); }

    // The peer starts sending `count` garbage datagrams to the tool.
    void SendGarbage(unsigned count);

private:
    LabProcess peer_;
};
