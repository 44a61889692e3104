#include "sim/SimOptions.h"

#include <cstdlib>

namespace {

constexpr char kDefaultIpBase[] = "192.168.1.100";
constexpr long kMostGeneratedDevices = 4096;
constexpr long kLongestNoiseMs = 600000;
constexpr long kWholePercent = 100;
constexpr long kLargestSeed = 4294967295L;

bool ParseCount(const std::string& text, long minimum, long maximum, long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *value = std::strtol(text.c_str(), nullptr, 10);
    return *value >= minimum && *value <= maximum;
}

// 0 to 100, with decimals: "5", "2.5", "0.01".
bool ParsePercent(const std::string& text, double* percent) {
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string decimals = dot == std::string::npos ? "0" : text.substr(dot + 1);
    long ignored = 0;
    if (!ParseCount(whole, 0, kWholePercent, &ignored) ||
        decimals.find_first_not_of("0123456789") != std::string::npos || decimals.empty()) {
        return false;
    }
    *percent = std::strtod(text.c_str(), nullptr);
    return *percent <= kWholePercent;
}

}  // namespace

std::string SimUsage() {
    return "Usage: velquint-sim [OPTION...]\n"
           "\n"
           "Simulated Velquint devices for tests and demos. Answers discovery requests on\n"
           "UDP port 3195 with one reply per device, sent to the searcher, and takes each\n"
           "setup datagram (29 bytes, command code 2) into the device whose MAC it names.\n"
           "Serves framed requests (Set ID) on each device's TCP service port.\n"
           "Runs only inside a lab network namespace, one whose name begins with vqlab-\n"
           "(the source tree's tests/lab/lab.sh makes them), and refuses to start\n"
           "elsewhere, unless --loopback leaves out everything but TCP on 127.0.0.1.\n"
           "Prints \"ready\" on standard output once it listens; ends on SIGTERM or SIGINT.\n"
           "\n"
           "Devices (any number, in the order given):\n"
           "  --device SETTINGS        add one device\n"
           "  --devices-file FILE      add one device per line of FILE (same SETTINGS;\n"
           "                           blank lines and lines starting with # are skipped)\n"
           "  --generate N[,SETTINGS]  add N devices, each with SETTINGS\n"
           "  --ip-base ADDR           address of the first device that names none;\n"
           "                           later ones count up (default " +
           std::string(kDefaultIpBase) +
           ")\n"
           "\n"
           "A device that names no MAC gets 02.56.51.00.hh.ll from its number, counted\n"
           "from 0 over all devices; no IP, the --ip-base address plus that number; no\n"
           "gateway, the .1 of its /24. SETTINGS are key=value pairs separated by commas:\n" +
           DeviceSettingsHelp() +
           "\n"
           "Faults of the whole simulator:\n"
           "  --noise-interval MS      after each discovery request, send the searcher a\n"
           "                           datagram that no search accepts every MS ms (short,\n"
           "                           bare header, setup reply, foreign identifier, in turn)\n"
           "  --noise-for MS           stop each noise stream after MS ms (default: never)\n"
           "  --loss PERCENT           lose each datagram with this chance, 0 to 100 (2.5\n"
           "                           will do), as a busy network does: each device misses\n"
           "                           a request or a setup on its own, and each datagram a\n"
           "                           device sends (every copy, answer and noise; the noise\n"
           "                           of --noise-interval too) is lost on its own. --record\n"
           "                           still shows every datagram that came in; TCP loses\n"
           "                           nothing\n"
           "  --seed N                 seed of the losses, 0 to 4294967295 (default 1): the\n"
           "                           same seed and the same traffic lose the same datagrams\n"
           "\n"
           "Other:\n"
           "  --record FILE            append each datagram received on port 3195 to FILE as\n"
           "                           \"<sender address>:<port> <hex bytes>\"\n"
           "  --record-tcp FILE        append each request frame a TCP service takes to FILE\n"
           "                           as \"<device address>:<port> <hex bytes>\", with \" bad\"\n"
           "                           behind a frame that does not hold together\n"
           "  --loopback               TCP services only, every one on 127.0.0.1 at its port\n"
           "                           (port=0: any free one): no UDP side, so it runs outside\n"
           "                           the lab too\n"
           "  --pty                    the first device serves framed requests over a\n"
           "                           pseudo-terminal as well, as on a serial line; prints\n"
           "                           \"pty <path>\" before \"ready\"\n"
           "  --help                   show this text\n"
           "\n"
           "Setup: a device takes the new IP address, mask, gateway, service port and baud\n"
           "code at once (its discovery replies show them from then on) and answers the\n"
           "sender with the datagrams of setup-reply, in turn, the first setup-delay ms\n"
           "after the setup, the others setup-gap ms apart. Kinds:\n"
           "  confirm        the confirmation: the discovery reply's layout with command\n"
           "                 code setup-code (2; 3 also confirms), cut or padded to\n"
           "                 setup-length, showing the settings just taken (the default)\n"
           "  short          the confirmation cut to 13 bytes\n"
           "  other-mac      the confirmation with the last MAC byte inverted\n"
           "  discovery      the device's discovery reply (command code 1) instead\n"
           "  request-ident  the confirmation opening with KVM47JS instead of KVM47JR\n"
           "  oversized      the confirmation padded to 257 bytes\n"
           "  none           (alone) no answer at all\n"
           "setup-noise sends the sender a stream of datagrams that confirm nothing: a\n"
           "4-byte one, a bare header, a setup reply of another MAC, a foreign identifier.\n"
           "A device with restart=MS then restarts, as real devices do after new network\n"
           "settings (unless setup-keep): from the moment its first answer leaves, or at\n"
           "the setup itself with setup-reply=none, it is off the network for MS ms. It\n"
           "ignores discovery requests and setup datagrams, even for its own MAC, sends\n"
           "nothing (the rest of its answers and its setup-noise are dropped for good),\n"
           "refuses TCP connects and closes the connections it had. Then it listens at\n"
           "its new address and port and answers discovery with its new settings.\n"
           "Devices with the same MAC each take the setup and restart on their own.\n"
           "A device with appear=MS is plugged in MS ms after the simulator starts, one\n"
           "with vanish=MS unplugged then: off the network, as while it restarts, before\n"
           "and after.\n"
           "\n"
           "TCP: each device serves framed requests on its service port at its IP address\n"
           "and follows a setup to its new address and port. Before \"ready\" it prints\n"
           "\"listening <address>:<port>\" for each device, in order. A Set ID request\n"
           "(function 2, command 90) stores its first data byte as the device's ID; the\n"
           "reply carries the stored ID with result tcp-result; any other request gets\n"
           "result 2. Devices with the same address and port share the first one's\n"
           "service (while that one restarts, the next one's). Bytes before a request's\n"
           "start marker are skipped; a request frame that does not hold together goes\n"
           "unanswered. What follows a request (tcp-reply):\n"
           "  answer         the reply frame after tcp-delay ms, behind tcp-noise bytes,\n"
           "                 with the faults of the tcp- keys (the default)\n"
           "  none           nothing; the connection stays open\n"
           "  close          the device closes the connection after tcp-delay ms\n"
           "  trickle        after tcp-delay ms, one byte that is no start marker every\n"
           "                 tcp-trickle ms, until the tool closes the connection\n"
           "  trickle-frame  after tcp-delay ms, the reply's header in the long form,\n"
           "                 announcing tcp-size data bytes (4000 unless given), then the\n"
           "                 rest of the frame one byte every tcp-trickle ms: a reply that\n"
           "                 holds together but, with a gap just under the tool's\n"
           "                 time-out, would take hours\n"
           "With tcp-baud, a reply leaves at the pace of a serial line of that rate, 10\n"
           "bits a byte, as fast as the line allows: an honest device on a slow line.\n"
           "A flood (tcp-flood) streams zero bytes, no start marker, as fast as the\n"
           "connection takes them, from the accept or from each request on, for\n"
           "tcp-flood-for ms or until the tool closes the connection; it answers nothing\n"
           "meanwhile, and an answer whose tcp-delay falls after the flood follows it.\n"
           "\n"
           "Example: 300 ms apart, one with an unprogrammed MAC, one with a 9-byte reply:\n"
           "  velquint-sim --device mac=00.1A.2B.3C.4D.5E,ip=10.231.101.5,version=1.05 \\\n"
           "               --device mac=00.1A.2B.FF.FF.FF,delay=300 --device length=9\n"
           "A device that first answers a setup from another MAC, then confirms with code 3:\n"
           "  velquint-sim --device mac=00.1A.2B.3C.4D.5E,setup-reply=other-mac+confirm,"
           "setup-code=3\n"
           "Two TCP devices on loopback, one answering after 2 s with result 1 and detail\n"
           "bytes 7 and 2, one closing the connection:\n"
           "  velquint-sim --loopback --device port=0,tcp-delay=2000,tcp-result=1,tcp-data=0702 "
           "\\\n"
           "               --device port=0,tcp-reply=close\n";
}

bool ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* error) {
    std::array<uint8_t, 4> ipBase{};
    ParseDottedAddress(kDefaultIpBase, &ipBase);
    auto nextOrdinal = [options] { return static_cast<unsigned>(options->devices.size()); };

    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            options->help = true;
            continue;
        }
        if (option == "--loopback") {
            options->loopback = true;
            continue;
        }
        if (option == "--pty") {
            options->pty = true;
            continue;
        }
        if (i + 1 >= argc) {
            *error = option == "--device" || option == "--devices-file" || option == "--generate" ||
                             option == "--ip-base" || option == "--noise-interval" ||
                             option == "--noise-for" || option == "--record" ||
                             option == "--record-tcp" || option == "--loss" || option == "--seed"
                         ? option + " needs a value"
                         : "unknown option " + option;
            return false;
        }
        const std::string value = argv[++i];
        long number = 0;
        if (option == "--device") {
            SimDevice device = DefaultSimDevice(nextOrdinal(), ipBase);
            if (!ApplyDeviceSettings(value, &device, error)) {
                return false;
            }
            options->devices.push_back(device);
        } else if (option == "--devices-file") {
            if (!LoadDeviceFile(value, nextOrdinal(), ipBase, &options->devices, error)) {
                return false;
            }
        } else if (option == "--generate") {
            const size_t comma = value.find(',');
            const std::string count = value.substr(0, comma);
            const std::string settings = comma == std::string::npos ? "" : value.substr(comma + 1);
            if (!ParseCount(count, 1, kMostGeneratedDevices, &number)) {
                *error =
                    "--generate needs a count from 1 to " + std::to_string(kMostGeneratedDevices);
                return false;
            }
            for (long k = 0; k < number; ++k) {
                SimDevice device = DefaultSimDevice(nextOrdinal(), ipBase);
                if (!ApplyDeviceSettings(settings, &device, error)) {
                    return false;
                }
                options->devices.push_back(device);
            }
        } else if (option == "--ip-base") {
            if (!ParseDottedAddress(value, &ipBase)) {
                *error = "--ip-base needs a dotted address";
                return false;
            }
        } else if (option == "--noise-interval" || option == "--noise-for") {
            if (!ParseCount(value, option == "--noise-interval" ? 1 : 0, kLongestNoiseMs,
                            &number)) {
                *error = option + " needs milliseconds";
                return false;
            }
            (option == "--noise-interval" ? options->noise.intervalMs : options->noise.durationMs) =
                static_cast<int>(number);
        } else if (option == "--loss") {
            if (!ParsePercent(value, &options->lossPercent)) {
                *error = "--loss needs a percentage from 0 to 100";
                return false;
            }
        } else if (option == "--seed") {
            if (!ParseCount(value, 0, kLargestSeed, &number)) {
                *error = "--seed needs a number from 0 to " + std::to_string(kLargestSeed);
                return false;
            }
            options->seed = static_cast<uint32_t>(number);
        } else if (option == "--record") {
            options->recordPath = value;
        } else if (option == "--record-tcp") {
            options->recordTcpPath = value;
        } else {
            *error = "unknown option " + option;
            return false;
        }
    }
    return true;
}
