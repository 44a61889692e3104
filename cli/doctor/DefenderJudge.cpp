#include "cli/doctor/DefenderJudge.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace {

constexpr char kSource[] = "the Windows Defender Firewall";
constexpr long kEveryProfile = kProfileDomain | kProfilePrivate | kProfilePublic;

const char* ProfileName(long type) {
    switch (type) {
        case kProfileDomain:
            return "domain";
        case kProfilePrivate:
            return "private";
        default:
            return "public";
    }
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c == '/' ? '\\' : std::tolower(c));
    });
    return text;
}

std::string Trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(' ');
    return start == std::string::npos ? ""
                                      : text.substr(start, text.find_last_not_of(' ') - start + 1);
}

// "3195", "3000-4000,5000", "*": whether the list holds `port`. Keywords
// ("RPC", "Teredo", ...) name other ports.
bool PortsHold(const std::string& ports, uint16_t port) {
    if (Trimmed(ports).empty() || Trimmed(ports) == "*") {
        return true;
    }
    std::istringstream pieces(ports);
    std::string piece;
    while (std::getline(pieces, piece, ',')) {
        piece = Trimmed(piece);
        const size_t dash = piece.find('-');
        const std::string low = piece.substr(0, dash);
        const std::string high = dash == std::string::npos ? low : piece.substr(dash + 1);
        const auto digits = [](const std::string& text) {
            return !text.empty() && text.size() <= 5 &&
                   std::all_of(text.begin(), text.end(),
                               [](unsigned char c) { return std::isdigit(c) != 0; });
        };
        if (digits(low) && digits(high) && std::stoul(low) <= port && port <= std::stoul(high)) {
            return true;
        }
    }
    return false;
}

enum class Reach { None, Some, All };

// Whether `rule` decides a reply to `port` for `program` on `profile`, and
// for which senders.
Reach RuleReach(const DefenderRule& rule, long profile, const std::string& program, uint16_t port) {
    if (!rule.enabled || !rule.inbound || (rule.profiles & profile) == 0 ||
        (rule.protocol != kProtocolUdp && rule.protocol != kProtocolAny) ||
        !(rule.service.empty() || rule.service == "*") ||
        !(rule.application.empty() || Lowered(rule.application) == Lowered(program)) ||
        !PortsHold(rule.localPorts, port)) {
        return Reach::None;
    }
    const std::string remote = Lowered(Trimmed(rule.remoteAddresses));
    return remote.empty() || remote == "*" || remote == "localsubnet" ? Reach::All : Reach::Some;
}

std::string AddRuleFix(uint16_t port) {
    return "as an administrator: netsh advfirewall firewall add rule name=velquint dir=in "
           "action=allow protocol=UDP localport=" +
           std::to_string(port);
}

// The rule of `rules` that reaches furthest with `allow`, and how far.
std::pair<const DefenderRule*, Reach> Strongest(const DefenderFirewall& firewall, bool allow,
                                                long profile, const std::string& program,
                                                uint16_t port) {
    std::pair<const DefenderRule*, Reach> strongest{nullptr, Reach::None};
    for (const DefenderRule& rule : firewall.rules) {
        const Reach reach =
            rule.allow == allow ? RuleReach(rule, profile, program, port) : Reach::None;
        if (reach > strongest.second) {
            strongest = {&rule, reach};
        }
    }
    return strongest;
}

Finding JudgeProfile(const DefenderFirewall& firewall, const DefenderProfile& profile,
                     const std::string& program, uint16_t port) {
    const std::string network = std::string(" on the ") + ProfileName(profile.type) + " network";
    const std::string replies = "replies to UDP port " + std::to_string(port);
    Finding finding{"firewall", "", Severity::Ok, "", "", ""};
    if (!profile.enabled) {
        finding.token = "defender-off";
        finding.text = std::string(kSource) + " is off" + network;
        return finding;
    }
    if (profile.blockAllInbound) {
        finding.token = "defender-blocks-all";
        finding.severity = Severity::Problem;
        finding.text = std::string(kSource) + " blocks every incoming connection" + network +
                       ", those of allowed programs too";
        finding.fix = std::string("as an administrator: netsh advfirewall set ") +
                      ProfileName(profile.type) +
                      "profile firewallpolicy blockinbound,allowoutbound (then allow the port)";
        return finding;
    }
    const auto [blocking, blocks] = Strongest(firewall, false, profile.type, program, port);
    if (blocks != Reach::None) {
        const std::string rule = "'" + blocking->name + "'";
        finding.token = blocks == Reach::All ? "defender-block-rule" : "defender-may-block";
        finding.severity = blocks == Reach::All ? Severity::Problem : Severity::Warning;
        finding.text = std::string(kSource) + "'s rule " + rule + " blocks " + replies +
                       (blocks == Reach::All ? "" : " from " + blocking->remoteAddresses) + network;
        finding.fix = "as an administrator: netsh advfirewall firewall set rule name=\"" +
                      blocking->name + "\" new enable=no";
        return finding;
    }
    const std::string lets = std::string(kSource) + " lets " + replies + " in";
    if (profile.inboundAllowedByDefault) {
        finding.token = "defender-accepts";
        finding.text = lets + network + " (incoming connections are allowed by default)";
        return finding;
    }
    const auto [allowing, allows] = Strongest(firewall, true, profile.type, program, port);
    if (allows == Reach::All) {
        finding.token = "defender-accepts";
        finding.text = lets + network + " (rule '" + allowing->name + "')";
        return finding;
    }
    finding.fix = AddRuleFix(port);
    if (allows == Reach::Some) {
        finding.token = "defender-may-drop";
        finding.severity = Severity::Warning;
        finding.text = lets + " only from " + allowing->remoteAddresses + network + " (rule '" +
                       allowing->name + "')";
        return finding;
    }
    finding.token = "defender-drops";
    finding.severity = Severity::Problem;
    finding.text = std::string(kSource) + " drops " + replies + network +
                   ": no rule lets them in for this program or for every program";
    return finding;
}

}  // namespace

Findings JudgeDefenderFirewall(const DefenderFirewall& firewall, const std::string& programPath,
                               uint16_t port) {
    const long connected = firewall.currentProfiles != 0 ? firewall.currentProfiles : kEveryProfile;
    Findings findings;
    for (const DefenderProfile& profile : firewall.profiles) {
        if ((profile.type & connected) != 0) {
            findings.push_back(JudgeProfile(firewall, profile, programPath, port));
        }
    }
    return findings;
}

Finding DefenderUnread(const std::string& why, uint16_t port) {
    return {"firewall",
            "defender-unread",
            Severity::Warning,
            std::string(kSource) + " could not be read (" + why +
                "), so whether it lets replies to UDP port " + std::to_string(port) +
                " in is not known",
            "where it is on, " + AddRuleFix(port),
            ""};
}
