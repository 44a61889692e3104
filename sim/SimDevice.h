#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One simulated device: its identity and settings as it reports them, and the
// ways it misbehaves on request. Each side of the simulator (discovery, and
// later setup and the TCP service) reads and changes these.

// How a device answers a discovery request.
struct SimDiscoveryBehaviour {
    bool silent = false;  // never answers
    int delayMs = 0;      // answers this long after the request
    int copies = 1;       // sends its reply this many times
    int replyLength = 0;  // cuts or zero-pads the reply to this length; 0 keeps it
    std::string identifier = "KVM47JR";
    uint8_t commandCode = 1;
};

// What a device sends, in turn, after a setup datagram addressed to it.
enum class SimSetupReply {
    Confirm,       // the confirmation: the reply layout with the setup's code
    Short,         // the confirmation cut to 13 bytes
    OtherMac,      // the confirmation with another device's MAC
    Discovery,     // its discovery reply (command code 1) instead
    RequestIdent,  // the confirmation opening with "KVM47JS"
    Oversized,     // the confirmation padded to 257 bytes
};

// How a device answers a setup datagram addressed to its MAC.
struct SimSetupBehaviour {
    std::vector<SimSetupReply> replies{SimSetupReply::Confirm};  // empty: no answer
    uint8_t confirmCode = 2;
    int confirmLength = 0;    // cuts or zero-pads the confirmation; 0 keeps it
    int delayMs = 0;          // first datagram this long after the setup
    int gapMs = 100;          // between the datagrams of `replies`
    int noiseIntervalMs = 0;  // non-matching datagrams to the sender, this often; 0: none
    int noiseForMs = 0;       // for this long; 0: until the simulator ends
    bool keep = false;        // confirm, but keep the present settings
    int dropFirst = 0;        // setup datagrams naming it still to be lost
    int restartMs = 0;        // dead to the network this long from the first answer; 0: never
};

// What a device does once it has taken a request frame on its TCP service.
enum class SimTcpReply {
    Answer,   // a reply frame, shaped by the fault keys below
    None,     // nothing; the connection stays open
    Close,    // closes the connection
    Trickle,  // an endless trickle of bytes that are no start marker
    // A reply frame's header announcing a long frame, then one byte at a
    // time: a frame that would hold together, only hours late.
    TrickleFrame,
};

// When a device starts streaming zeros at the tool as fast as the connection
// takes them, as a crashed device or a misconfigured port forward would.
enum class SimTcpFlood {
    None,
    Accept,   // from the moment the connection is accepted
    Request,  // from each request on
};

// How a device's TCP service misbehaves. Every key applies to every request.
struct SimTcpBehaviour {
    SimTcpReply reply = SimTcpReply::Answer;
    int delayMs = 0;            // the answer (or the close, or the trickle) this much later
    int noiseBytes = 0;         // bytes that are no start marker, sent before the reply
    bool forceAddress = false;  // answer with `address` instead of the request's
    uint32_t address = 0;
    uint8_t sequenceShift = 0;   // added to the request's sequence number (mod 256)
    bool badCountCheck = false;  // the count check byte inverted
    bool longForm = false;       // the long count form even for a count up to 255
    bool forceCount = false;     // announce `count` in the long form, whatever follows
    uint32_t count = 0;
    bool badCrc = false;       // the CRC's low byte inverted
    uint8_t endMarker = 0x03;  // the byte after the CRC
    uint8_t result = 0;        // the result byte
    bool forceData = false;    // reply with `data` instead of the stored ID
    std::vector<uint8_t> data;
    std::vector<uint8_t> before;  // sent as soon as a connection is accepted
    uint32_t size = 0;            // data bytes of the reply: the ID, then 1, 2, ...; 0: the ID
    uint32_t lineRate = 0;        // bit/s of the line whose pace replies keep; 0: all at once
    int trickleMs = 50;           // between the bytes of a trickle
    SimTcpFlood flood = SimTcpFlood::None;
    int floodForMs = -1;  // how long a flood lasts; -1: until the connection closes
};

struct SimDevice {
    std::array<uint8_t, 6> mac{};
    uint8_t versionMajor = 1;
    uint8_t versionMinor = 6;
    std::array<uint8_t, 4> ip{};
    std::array<uint8_t, 4> mask{{255, 255, 255, 0}};
    std::array<uint8_t, 4> gateway{};
    uint16_t servicePort = 4001;
    uint8_t baudCode = 3;
    std::vector<uint8_t> extra;
    SimDiscoveryBehaviour discovery;
    SimSetupBehaviour setup;
    uint8_t id = 0;  // the ID that the last Set ID request stored
    SimTcpBehaviour tcp;
    bool restarting = false;  // hears and sends nothing, serves no TCP
    bool restartDue = false;  // took a setup, and restarts as its first answer leaves
    int appearMs = 0;         // plugged in this long after the simulator starts; 0: at once
    int vanishMs = 0;         // unplugged this long after the simulator starts; 0: never
    bool unplugged = false;   // not on the segment (yet, or any more)

    // Off the network: it hears and sends nothing and serves no TCP.
    bool Offline() const { return restarting || unplugged; }
    unsigned restarts = 0;  // restarts begun: work queued before one is forgotten
};

// Longest datagram the simulator builds.
constexpr int kSimLargestDatagram = 300;

// The device numbered `ordinal` (from 0) when nothing else is said: a locally
// administered MAC 02.56.51.00.hh.ll, the address `ordinal` steps above
// `ipBase`, a /24 mask and the .1 of that network as gateway.
SimDevice DefaultSimDevice(unsigned ordinal, const std::array<uint8_t, 4>& ipBase);

// Applies "key=value" settings separated by commas or blanks, for instance
// "mac=00.11.22.33.44.55,ip=10.0.0.5,delay=300". Returns false and says why in
// `error` on an unknown key or a bad value.
bool ApplyDeviceSettings(const std::string& settings, SimDevice* device, std::string* error);

// Reads a device file: one device per line, in the form ApplyDeviceSettings
// takes; blank lines and lines starting with '#' are skipped. Devices are
// numbered on from `firstOrdinal` for their defaults.
bool LoadDeviceFile(const std::string& path, unsigned firstOrdinal,
                    const std::array<uint8_t, 4>& ipBase, std::vector<SimDevice>* devices,
                    std::string* error);

// One line per key, for --help.
std::string DeviceSettingsHelp();

bool ParseDottedAddress(const std::string& text, std::array<uint8_t, 4>* address);
