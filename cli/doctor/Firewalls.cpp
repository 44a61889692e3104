#include "cli/doctor/Firewalls.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>

#include "cli/Values.h"
#include "discovery/DiscoveryDatagram.h"
#include "platform/Programs.h"

namespace {

// The ufw application profile and the firewalld service that the package
// velquint-common ships, both for incoming UDP to port 3195.
constexpr char kProfile[] = "velquint";
constexpr char kUfwConfig[] = "/etc/ufw/ufw.conf";
constexpr char kLegacyTables[] = "/proc/net/ip_tables_names";
const std::string kPort = std::to_string(kDeviceUdpPort);
const std::string kPortWords = "UDP port " + kPort;

enum class Manager { None, Ufw, Firewalld };

std::string Trimmed(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) {
        return {};
    }
    return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

std::string FileText(const char* path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool UfwEnabled() {
    std::istringstream lines(FileText(kUfwConfig));
    std::string line;
    while (std::getline(lines, line)) {
        if (Trimmed(line) == "ENABLED=yes") {
            return true;
        }
    }
    return false;
}

bool FirewalldRunning() {
    const ProgramRun state = RunProgram({"firewall-cmd", "--state"});
    return state.status == 0 && Trimmed(state.out) == "running";
}

// "3195", "3000:4000", "22,3195": whether the list holds `port`; ufw writes
// ranges with ':' and firewalld with '-'.
bool PortListHolds(const std::string& list, uint16_t port) {
    std::istringstream pieces(list);
    std::string piece;
    while (std::getline(pieces, piece, ',')) {
        const size_t dash = piece.find_first_of(":-");
        try {
            const unsigned long low = std::stoul(piece.substr(0, dash));
            const unsigned long high =
                dash == std::string::npos ? low : std::stoul(piece.substr(dash + 1));
            if (low <= port && port <= high) {
                return true;
            }
        } catch (const std::exception&) {
            // Not a number: a service name, which does not name our port.
        }
    }
    return false;
}

// "3195/udp", "3000:4000", "53/tcp": whether these ports let UDP to `port` in.
bool PortsHold(const std::string& ports, uint16_t port) {
    const size_t slash = ports.find('/');
    if (slash != std::string::npos && ports.substr(slash + 1) != "udp") {
        return false;
    }
    return PortListHolds(ports.substr(0, slash), port);
}

bool LooksLikePorts(const std::string& word) {
    return !word.empty() && std::isdigit(static_cast<unsigned char>(word[0])) &&
           word.find('.') == std::string::npos;
}

enum class Tri { No, Yes, Maybe };

// Whether an address or subnet of ufw's ("Anywhere", "10.0.0.0/8",
// "10.1.2.3") holds every address of from/prefix.
Tri AddressHolds(const std::string& text, uint32_t from, int prefix) {
    if (text == "Anywhere") {
        return Tri::Yes;
    }
    const size_t slash = text.find('/');
    const std::optional<uint32_t> address = ReadDottedAddress(text.substr(0, slash));
    if (!address) {
        return Tri::No;  // an IPv6 rule
    }
    int length = 32;
    try {
        length = slash == std::string::npos ? 32 : std::stoi(text.substr(slash + 1));
    } catch (const std::exception&) {
        return Tri::Maybe;
    }
    const auto mask = [](int bits) { return bits <= 0 ? 0u : ~0u << (32 - bits); };
    const uint32_t base = *address;
    const int shared = std::min(length, prefix);
    if ((base & mask(shared)) != (from & mask(shared))) {
        return Tri::No;
    }
    return length <= prefix ? Tri::Yes : Tri::Maybe;
}

std::string OpenAdvice(Manager manager, const NftVerdict& verdict, const std::string& interface) {
    switch (manager) {
        case Manager::Ufw:
            return std::string("sudo ufw allow ") + kProfile;
        case Manager::Firewalld:
            return std::string("sudo firewall-cmd --add-service=") + kProfile +
                   " && sudo firewall-cmd --permanent --add-service=" + kProfile;
        case Manager::None:
            break;
    }
    if (verdict.chain.empty()) {
        return "let " + kPortWords + " in for incoming datagrams";
    }
    const std::string match = verdict.family == "netdev" ? "" : "iifname \"" + interface + "\" ";
    return "sudo nft insert rule " + verdict.family + " " + verdict.table + " " + verdict.chain +
           " " + match + "udp dport " + kPort +
           " accept (and add it to /etc/nftables.conf to keep it)";
}

struct Target {
    const LocalInterface* interface;
    IncomingDatagram datagram;
    std::string where;  // "on lab0 from 10.231.0.0/16"
};

Finding Judged(const std::string& source, const std::string& token, const Target& target,
               const NftVerdict& verdict, const std::string& fix) {
    Finding finding;
    finding.check = "firewall";
    finding.interfaceName = target.interface->name;
    const std::string what = kPortWords + " " + target.where;
    switch (verdict.passage) {
        case Passage::Accepted:
            finding.token = token + "-accepts";
            finding.text = source + " lets replies to " + what + " in" +
                           (verdict.decidedBy.empty() ? "" : " (" + verdict.decidedBy + ")");
            break;
        case Passage::Dropped:
            finding.token = token + "-drops";
            finding.severity = Severity::Problem;
            finding.text = source + " drops replies to " + what + ": " + verdict.decidedBy;
            finding.fix = fix;
            break;
        case Passage::MayDrop:
            finding.token = token + "-may-drop";
            finding.severity = Severity::Warning;
            finding.text =
                source + " may drop replies to " + what + ": " + verdict.decidedBy +
                (verdict.unsure == verdict.decidedBy
                     ? ", if it holds for them, which this check cannot evaluate"
                     : ", depending on " + verdict.unsure + ", which this check cannot evaluate");
            finding.fix = fix;
            break;
    }
    return finding;
}

Finding Unread(const std::string& token, const std::string& text, const std::string& fix) {
    return {"firewall", token, Severity::Warning, text, fix, ""};
}

void NftablesFindings(const std::vector<Target>& targets, Manager manager, Findings* findings) {
    if (FindProgram("nft").empty()) {
        findings->push_back(Unread("nftables-unread",
                                   "nft is not installed, so the nftables rules were not read",
                                   "sudo apt install nftables, then run velquint doctor again"));
        return;
    }
    const ProgramRun listing = RunProgram({"nft", "-j", "list", "ruleset"});
    if (listing.status != 0) {
        findings->push_back(Unread("nftables-unread",
                                   !RunsAsRoot()
                                       ? "only root may read the nftables rules"
                                       : "nft could not list the rules: " + Trimmed(listing.err),
                                   !RunsAsRoot() ? "sudo velquint doctor (it sends nothing)" : ""));
        return;
    }
    const nlohmann::json ruleset = nlohmann::json::parse(listing.out, nullptr, false);
    if (ruleset.is_discarded()) {
        findings->push_back(Unread("nftables-unread",
                                   "nft listed its rules in a form not read here",
                                   "sudo nft list ruleset shows them"));
        return;
    }
    const RuleTexts texts = ReadRuleTexts(RunProgram({"nft", "-a", "list", "ruleset"}).out);
    for (const Target& target : targets) {
        const NftVerdict verdict = JudgeRuleset(ruleset, target.datagram, texts);
        findings->push_back(Judged("nftables", "nftables", target, verdict,
                                   OpenAdvice(manager, verdict, target.interface->name)));
    }
}

// iptables-legacy keeps its rules apart from nftables: they are only named,
// not judged.
void LegacyFindings(Findings* findings) {
    if (Trimmed(FileText(kLegacyTables)).empty()) {
        return;
    }
    const ProgramRun save = RunProgram({"iptables-legacy-save", "-t", "filter"});
    if (save.status != 0) {
        findings->push_back(Unread("iptables-legacy-unread",
                                   "iptables-legacy tables exist, and only root may read them",
                                   "sudo velquint doctor, or sudo iptables-legacy -L INPUT -n -v"));
        return;
    }
    std::istringstream lines(save.out);
    std::string line;
    std::string policy = "ACCEPT";
    int rules = 0;
    while (std::getline(lines, line)) {
        if (line.rfind(":INPUT ", 0) == 0) {
            std::istringstream words(line.substr(7));
            words >> policy;
        } else if (line.rfind("-A INPUT ", 0) == 0) {
            ++rules;
        }
    }
    if (policy == "ACCEPT" && rules == 0) {
        return;
    }
    findings->push_back(Unread(
        "iptables-legacy-rules",
        "iptables-legacy has rules for incoming datagrams (INPUT policy " + policy + ", " +
            std::to_string(rules) + " rules), which this check does not judge",
        "sudo iptables-legacy -L INPUT -n -v shows them; sudo iptables-legacy -I INPUT -p udp "
        "--dport " +
            kPort + " -j ACCEPT lets the replies in"));
}

void UfwFindings(const std::vector<Target>& targets, Findings* findings) {
    if (FindProgram("ufw").empty()) {
        return;
    }
    if (!UfwEnabled()) {
        findings->push_back(
            {"firewall", "ufw-inactive", Severity::Ok, "ufw is installed but not enabled", "", ""});
        return;
    }
    const ProgramRun status = RunProgram({"ufw", "status", "verbose"});
    if (status.status != 0) {
        findings->push_back(Unread("ufw-unread", "ufw is enabled, and only root may read its rules",
                                   "sudo velquint doctor (it sends nothing)"));
        return;
    }
    for (const Target& target : targets) {
        findings->push_back(Judged("ufw", "ufw", target,
                                   JudgeUfwStatus(status.out, target.datagram),
                                   OpenAdvice(Manager::Ufw, {}, "")));
    }
}

void FirewalldFindings(const std::vector<Target>& targets, bool running, Findings* findings) {
    if (FindProgram("firewall-cmd").empty()) {
        return;
    }
    if (!running) {
        findings->push_back({"firewall", "firewalld-inactive", Severity::Ok,
                             "firewalld is installed but not running", "", ""});
        return;
    }
    for (const Target& target : targets) {
        ProgramRun zone =
            RunProgram({"firewall-cmd", "--get-zone-of-interface=" + target.interface->name});
        if (zone.status != 0) {
            zone = RunProgram({"firewall-cmd", "--get-default-zone"});
        }
        const std::string name = Trimmed(zone.out);
        const ProgramRun listing = RunProgram({"firewall-cmd", "--zone=" + name, "--list-all"});
        if (zone.status != 0 || listing.status != 0) {
            findings->push_back(Unread("firewalld-unread",
                                       "firewalld runs, and would not show its zones here",
                                       "sudo velquint doctor (it sends nothing)"));
            return;
        }
        findings->push_back(Judged(
            "firewalld zone " + name, "firewalld", target,
            JudgeFirewalldZone(listing.out, kDeviceUdpPort),
            "sudo firewall-cmd --zone=" + name + " --add-service=" + kProfile +
                " && sudo firewall-cmd --permanent --zone=" + name + " --add-service=" + kProfile));
    }
}

}  // namespace

namespace {

// One rule of `ufw status verbose`, by its columns (two blanks or more
// apart): To, Action, From.
struct UfwRule {
    std::string to;
    std::string action;
    std::string direction = "IN";
    std::string from;
    std::string text;  // as ufw wrote it
};

std::optional<UfwRule> ReadUfwRule(const std::string& rule) {
    std::vector<std::string> columns;
    for (size_t at = 0; at < rule.size();) {
        const size_t gap = rule.find("  ", at);
        columns.push_back(Trimmed(rule.substr(at, gap - at)));
        at = gap == std::string::npos ? rule.size() : rule.find_first_not_of(' ', gap);
    }
    if (columns.size() < 3) {
        return std::nullopt;
    }
    UfwRule read{columns[0], "", "IN", columns[2], rule};
    std::istringstream actionWords(columns[1]);
    actionWords >> read.action >> read.direction;
    read.text = Trimmed(columns[0]) + "  " + columns[1] + "  " + columns[2];
    return read;
}

// Whether the rule's To and From take the datagram; `exact` is false where
// the rule names a source port (the device's choice, so never sure).
Tri UfwRuleHolds(const UfwRule& rule, const IncomingDatagram& datagram, bool* exact) {
    // To: [ADDRESS] [PORTS or APPLICATION] [on INTERFACE]
    std::string to = rule.to;
    const size_t on = to.find(" on ");
    if (on != std::string::npos) {
        if (Trimmed(to.substr(on + 4)) != datagram.interfaceName) {
            return Tri::No;
        }
        to = Trimmed(to.substr(0, on));
    }
    std::istringstream toWords(to);
    std::string first;
    toWords >> first;
    std::string service;
    std::getline(toWords, service);
    service = Trimmed(service);
    Tri holds = Tri::Yes;
    if (first.find('.') != std::string::npos) {
        holds = AddressHolds(first, datagram.to, 32);
    } else if (first != "Anywhere") {
        service = to;
    }
    if (!service.empty()) {
        const bool ours =
            service == kProfile || (LooksLikePorts(service) && PortsHold(service, datagram.port));
        holds = ours ? holds : Tri::No;
    }
    // From: ADDRESS [PORTS].
    std::istringstream fromWords(rule.from);
    std::string from;
    std::string fromPort;
    fromWords >> from >> fromPort;
    const Tri fromHolds = AddressHolds(from, datagram.from, datagram.fromPrefix);
    *exact = fromPort.empty();
    if (holds == Tri::No || fromHolds == Tri::No) {
        return Tri::No;
    }
    return holds == Tri::Yes && fromHolds == Tri::Yes ? Tri::Yes : Tri::Maybe;
}

// The verdict of what decided, unless an earlier rule that may hold would
// decide otherwise: then it may drop, and that rule is named.
NftVerdict Decided(bool allows, const std::string& by,
                   const std::vector<std::pair<std::string, bool>>& unsure) {
    NftVerdict verdict;
    verdict.passage = allows ? Passage::Accepted : Passage::Dropped;
    verdict.decidedBy = by;
    for (const auto& [rule, itAllows] : unsure) {
        if (itAllows != allows) {
            verdict.unsure = rule;
            verdict.passage = Passage::MayDrop;
        }
    }
    return verdict;
}

}  // namespace

NftVerdict JudgeUfwStatus(const std::string& status, const IncomingDatagram& datagram) {
    std::istringstream lines(status);
    std::string line;
    std::string defaultIncoming = "deny";
    bool rules = false;
    // Rules that may hold, and whether each allows.
    std::vector<std::pair<std::string, bool>> unsure;
    while (std::getline(lines, line)) {
        if (line.rfind("Status: ", 0) == 0 && Trimmed(line.substr(8)) != "active") {
            NftVerdict verdict;
            verdict.decidedBy = "ufw is inactive";
            return verdict;
        }
        if (line.rfind("Default: ", 0) == 0) {
            std::istringstream words(line.substr(9));
            words >> defaultIncoming;
            continue;
        }
        if (line.rfind("--", 0) == 0) {
            rules = true;
            continue;
        }
        const std::string text = Trimmed(line.substr(0, line.find(" # ")));
        if (!rules || text.empty() || text.find("(v6)") != std::string::npos) {
            continue;
        }
        const std::optional<UfwRule> rule = ReadUfwRule(text);
        if (!rule || rule->direction != "IN") {
            continue;
        }
        bool exact = true;
        const Tri holds = UfwRuleHolds(*rule, datagram, &exact);
        const bool allows = rule->action == "ALLOW" || rule->action == "LIMIT";
        if (holds == Tri::Yes && exact) {
            return Decided(allows, "ufw rule '" + rule->text + "'", unsure);
        }
        if (holds != Tri::No) {
            unsure.emplace_back("ufw rule '" + text + "'", allows);
        }
    }
    return Decided(defaultIncoming == "allow",
                   "ufw's default policy (" + defaultIncoming + " incoming)", unsure);
}

NftVerdict JudgeFirewalldZone(const std::string& listing, uint16_t port) {
    NftVerdict verdict;
    std::istringstream lines(listing);
    std::string line;
    std::string zone;
    std::string target;
    bool richRules = false;
    bool inRich = false;
    while (std::getline(lines, line)) {
        if (zone.empty()) {
            zone = Trimmed(line.substr(0, line.find(' ')));
            continue;
        }
        const std::string trimmed = Trimmed(line);
        if (inRich && !trimmed.empty() && line[0] == '\t') {
            richRules = true;
            continue;
        }
        const size_t colon = trimmed.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string key = trimmed.substr(0, colon);
        const std::string value = Trimmed(trimmed.substr(colon + 1));
        inRich = key == "rich rules";
        std::istringstream words(value);
        std::string word;
        while (words >> word) {
            if ((key == "services" && word == kProfile) ||
                (key == "ports" && PortsHold(word, port)) ||
                (key == "protocols" && word == "udp")) {
                verdict.decidedBy = key + " " + word + " of zone " + zone;
                return verdict;
            }
            if (key == "target") {
                target = word;
            }
            if (key == "rich rules") {
                richRules = true;
            }
        }
    }
    if (target == "ACCEPT") {
        verdict.decidedBy = "the target ACCEPT of zone " + zone;
        return verdict;
    }
    verdict.decidedBy = "zone " + zone + " lets neither the service " + std::string(kProfile) +
                        " nor " + kPort + "/udp in";
    verdict.passage = richRules ? Passage::MayDrop : Passage::Dropped;
    verdict.unsure = richRules ? "the zone's rich rules" : "";
    return verdict;
}

Findings FirewallFindings(const std::vector<LocalInterface>& interfaces) {
    std::vector<Target> targets;
    for (const LocalInterface& interface : interfaces) {
        if (!SearchesFrom(interface)) {
            continue;
        }
        Target target;
        target.interface = &interface;
        target.datagram.interfaceName = interface.name;
        target.datagram.from = interface.address;
        target.datagram.fromPrefix = interface.prefixLength;
        target.datagram.to = interface.address;
        target.datagram.port = kDeviceUdpPort;
        target.where = "on " + interface.name + " from " +
                       SubnetText(interface.address, interface.prefixLength);
        targets.push_back(target);
    }
    Findings findings;
    if (targets.empty()) {
        return findings;
    }
    const bool firewalld = !FindProgram("firewall-cmd").empty() && FirewalldRunning();
    const bool ufw = !FindProgram("ufw").empty() && UfwEnabled();
    const Manager manager = ufw ? Manager::Ufw : firewalld ? Manager::Firewalld : Manager::None;
    NftablesFindings(targets, manager, &findings);
    LegacyFindings(&findings);
    UfwFindings(targets, &findings);
    FirewalldFindings(targets, firewalld, &findings);
    return findings;
}
