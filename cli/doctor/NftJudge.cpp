#include "cli/doctor/NftJudge.h"

#include <algorithm>
#include <optional>
#include <regex>
#include <sstream>
#include <vector>

#include "cli/Values.h"

namespace {

using Json = nlohmann::json;

// Connection tracking's view of a device's reply: see NftJudge.h.
constexpr char kReplyState[] = "new";
constexpr uint64_t kUdp = 17;
// Deeper than nftables itself lets jumps go (16): a loop the kernel would
// refuse cannot hold the judge either.
constexpr int kDeepestJump = 16;
// Chains walked for one verdict: each rule taken both ways doubles the walk
// behind it, and a ruleset of many such rules is not judged to the end.
constexpr int kMostWalks = 20000;

enum class Tri { No, Yes, Maybe };

Tri Not(Tri value) {
    return value == Tri::Yes ? Tri::No : value == Tri::No ? Tri::Yes : Tri::Maybe;
}

struct Interval {
    uint64_t low = 0;
    uint64_t high = 0;
};

// What the datagram holds where a match looks.
struct Field {
    enum Kind { Unknown, Absent, Number, Name, Flags } kind = Unknown;
    Interval value;                  // Number: every value it may take
    std::vector<std::string> names;  // Name: its name and what else means it; Flags: its flags
    bool address = false;            // Number given as dotted text
};

Field Unknown() {
    return {};
}

Field Absent() {
    Field field;
    field.kind = Field::Absent;
    return field;
}

Field Number(uint64_t low, uint64_t high, bool address = false) {
    Field field;
    field.kind = Field::Number;
    field.value = {low, high};
    field.address = address;
    return field;
}

Field Named(Field::Kind kind, std::vector<std::string> names) {
    Field field;
    field.kind = kind;
    field.names = std::move(names);
    return field;
}

// Headers that a UDP datagram over IPv4 does not have: nftables adds a check
// of the protocol to a match on them, so such a match never holds.
bool OtherProtocol(const std::string& protocol) {
    static const char* const kOthers[] = {"tcp",  "icmp",    "ip6",  "icmpv6", "sctp",
                                          "dccp", "udplite", "igmp", "ah",     "esp",
                                          "comp", "arp",     "gre"};
    return std::find(std::begin(kOthers), std::end(kOthers), protocol) != std::end(kOthers);
}

bool ProtocolNumber(const std::string& name, uint64_t* number) {
    static const std::pair<const char*, uint64_t> kNumbers[] = {
        {"icmp", 1},       {"igmp", 2},   {"tcp", 6},   {"udp", kUdp},
        {"gre", 47},       {"esp", 50},   {"ah", 51},   {"icmpv6", 58},
        {"ipv6-icmp", 58}, {"sctp", 132}, {"dccp", 33}, {"udplite", 136}};
    for (const auto& [word, value] : kNumbers) {
        if (name == word) {
            *number = value;
            return true;
        }
    }
    return false;
}

uint64_t HostMask(int prefix) {
    return prefix >= 32 ? 0 : (uint64_t{1} << (32 - prefix)) - 1;
}

bool AddressValue(const std::string& text, uint64_t* value) {
    const std::optional<uint32_t> address = ReadDottedAddress(text);
    if (!address) {
        return false;
    }
    *value = *address;
    return true;
}

// One value of a match's right-hand side as an interval of the field's kind.
bool ElementInterval(const Json& element, const Field& field, Interval* interval) {
    if (element.is_object() && element.contains("elem")) {
        return ElementInterval(element["elem"].value("val", Json()), field, interval);
    }
    if (element.is_object() && element.contains("prefix")) {
        const Json& prefix = element["prefix"];
        uint64_t base = 0;
        if (!prefix.contains("addr") || !prefix["addr"].is_string() ||
            !AddressValue(prefix["addr"].get<std::string>(), &base)) {
            return false;
        }
        const int length = prefix.value("len", 32);
        *interval = {base & ~HostMask(length) & 0xffffffffu, base | HostMask(length)};
        return true;
    }
    if (element.is_object() && element.contains("range") && element["range"].is_array() &&
        element["range"].size() == 2) {
        Interval low;
        Interval high;
        if (!ElementInterval(element["range"][0], field, &low) ||
            !ElementInterval(element["range"][1], field, &high)) {
            return false;
        }
        *interval = {low.low, high.high};
        return true;
    }
    uint64_t value = 0;
    if (element.is_number_unsigned()) {
        value = element.get<uint64_t>();
    } else if (!element.is_string()) {
        return false;
    } else if (!(field.address ? AddressValue(element.get<std::string>(), &value)
                               : ProtocolNumber(element.get<std::string>(), &value))) {
        return false;
    }
    *interval = {value, value};
    return true;
}

bool NameMatches(const std::string& pattern, const std::string& name) {
    if (!pattern.empty() && pattern.back() == '*') {
        return name.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    }
    return pattern == name;
}

class Judge {
public:
    Judge(const Json& ruleset, const IncomingDatagram& datagram, const RuleTexts& texts)
        : datagram_(datagram), texts_(texts) {
        if (!ruleset.contains("nftables") || !ruleset["nftables"].is_array()) {
            return;
        }
        for (const Json& object : ruleset["nftables"]) {
            if (object.contains("chain")) {
                const Json& chain = object["chain"];
                chains_[Key(chain, "name")].definition = &chain;
            } else if (object.contains("rule")) {
                const Json& rule = object["rule"];
                chains_[Key(rule, "chain")].rules.push_back(&rule);
            } else if (object.contains("set") || object.contains("map")) {
                const Json& set = object.contains("set") ? object["set"] : object["map"];
                sets_[Key(set, "name")] = &set;
            }
        }
    }

    NftVerdict Verdict() {
        NftVerdict verdict;
        bool mayDrop = false;
        for (const Chain* base : BaseChains()) {
            const ChainOutcome outcome = JudgeBaseChain(*base);
            if (outcome.verdict.passage == Passage::Dropped) {
                return outcome.verdict;
            }
            if (outcome.verdict.passage == Passage::MayDrop && !mayDrop) {
                mayDrop = true;
                verdict = outcome.verdict;
            } else if (!mayDrop && verdict.decidedBy.empty() && outcome.byRule) {
                verdict.decidedBy = outcome.verdict.decidedBy;
            }
        }
        return verdict;
    }

private:
    struct Chain {
        const Json* definition = nullptr;
        std::vector<const Json*> rules;
    };

    // How a walk through the chains ended.
    struct Branch {
        enum Kind { Accept, Drop, Unknown, Return } kind = Return;
        std::string decidedBy;
        std::string family, table, chain;
        std::string unsure;      // the first rule on the way that was taken as matching or not
        int guessedMatches = 0;  // rules on the way taken as matching though they may not
    };

    struct ChainOutcome {
        NftVerdict verdict;
        bool byRule = false;
    };

    static std::string Key(const Json& object, const char* nameField) {
        return object.value("family", "") + " " + object.value("table", "") + " " +
               object.value(nameField, "");
    }

    static std::string ChainName(const Json& chain) { return "chain " + Key(chain, "name"); }

    std::string RuleName(const Json& rule) const {
        const int64_t handle = rule.value("handle", int64_t{0});
        const auto text =
            texts_.find(RuleKey(rule.value("family", ""), rule.value("table", ""), handle));
        const std::string chain = "chain " + Key(rule, "chain");
        if (text == texts_.end()) {
            return "rule handle " + std::to_string(handle) + " in " + chain;
        }
        return "rule '" + text->second + "' in " + chain;
    }

    static int HookOrder(const std::string& hook) {
        return hook == "ingress" ? 0 : hook == "prerouting" ? 1 : 2;
    }

    // The chains the datagram passes on its way in, in the kernel's order.
    std::vector<const Chain*> BaseChains() const {
        std::vector<const Chain*> bases;
        for (const auto& [key, chain] : chains_) {
            if (chain.definition == nullptr) {
                continue;
            }
            const Json& definition = *chain.definition;
            const std::string family = definition.value("family", "");
            const std::string hook = definition.value("hook", "");
            const std::string type = definition.value("type", "filter");
            bool applies = false;
            if (hook == "ingress" && (family == "netdev" || family == "inet")) {
                const Json devices = definition.value("dev", Json());
                for (const Json& device : devices.is_array() ? devices : Json::array({devices})) {
                    applies = applies || (device.is_string() &&
                                          device.get<std::string>() == datagram_.interfaceName);
                }
            } else if ((hook == "prerouting" || hook == "input") &&
                       (family == "ip" || family == "inet")) {
                applies = type == "filter";
            }
            if (applies) {
                bases.push_back(&chain);
            }
        }
        std::stable_sort(bases.begin(), bases.end(), [](const Chain* a, const Chain* b) {
            const Json& x = *a->definition;
            const Json& y = *b->definition;
            const int hookX = HookOrder(x.value("hook", ""));
            const int hookY = HookOrder(y.value("hook", ""));
            if (hookX != hookY) {
                return hookX < hookY;
            }
            return x.value("prio", int64_t{0}) < y.value("prio", int64_t{0});
        });
        return bases;
    }

    ChainOutcome JudgeBaseChain(const Chain& base) {
        walks_ = 0;
        const Json& definition = *base.definition;
        std::vector<Branch> branches = Walk(definition, 0, 0, "");
        if (branches.empty()) {
            branches.push_back(Branch{});
        }
        const std::string policy = definition.value("policy", "accept");
        for (Branch& branch : branches) {
            if (branch.kind == Branch::Return) {
                branch.kind = policy == "drop" ? Branch::Drop : Branch::Accept;
                branch.decidedBy = "the policy " + policy + " of " + ChainName(definition);
                branch.family = definition.value("family", "");
                branch.table = definition.value("table", "");
                branch.chain = definition.value("name", "");
            }
        }
        const auto all = [&branches](Branch::Kind kind) {
            return std::all_of(branches.begin(), branches.end(),
                               [kind](const Branch& branch) { return branch.kind == kind; });
        };
        ChainOutcome outcome;
        NftVerdict& verdict = outcome.verdict;
        const Branch* shown = &branches.front();
        if (all(Branch::Accept)) {
            verdict.passage = Passage::Accepted;
            outcome.byRule = shown->decidedBy.rfind("the policy", 0) != 0;
        } else if (all(Branch::Drop)) {
            verdict.passage = Passage::Dropped;
        } else {
            verdict.passage = Passage::MayDrop;
            // The drop that needs the fewest guesses is the one to name: the
            // way most datagrams take when the rules in doubt do not hold.
            shown = nullptr;
            for (const Branch& branch : branches) {
                if (branch.kind != Branch::Accept &&
                    (shown == nullptr || branch.guessedMatches < shown->guessedMatches)) {
                    shown = &branch;
                }
            }
            verdict.unsure = shown->kind == Branch::Unknown && shown->unsure.empty()
                                 ? shown->decidedBy
                                 : shown->unsure;
        }
        verdict.decidedBy = shown->decidedBy;
        verdict.family = shown->family;
        verdict.table = shown->table;
        verdict.chain = shown->chain;
        return outcome;
    }

    // Walks `chain` from rule `from` on. A chain that ends, or returns, gives
    // a Return branch: the caller goes on behind its jump.
    std::vector<Branch> Walk(const Json& chain, size_t from, int depth, const std::string& unsure) {
        if (++walks_ > kMostWalks) {
            return {Unsure("the ruleset has too many rules this check cannot evaluate", unsure)};
        }
        const auto found = chains_.find(Key(chain, "name"));
        if (found == chains_.end()) {
            return {Branch{}};
        }
        const std::vector<const Json*>& rules = found->second.rules;
        for (size_t at = from; at < rules.size(); ++at) {
            const Json& rule = *rules[at];
            const RuleReading reading = Read(rule);
            if (reading.action == Action::None || reading.matches == Tri::No) {
                continue;
            }
            if (reading.matches == Tri::Yes) {
                return Take(reading, chain, at, depth, unsure);
            }
            // A way that takes the rule as holding depends on that rule most;
            // one that passes it by, on the first rule it passed by.
            const std::string assumed = unsure.empty() ? RuleName(rule) : unsure;
            std::vector<Branch> branches = Take(reading, chain, at, depth, RuleName(rule));
            for (Branch& branch : branches) {
                ++branch.guessedMatches;
            }
            std::vector<Branch> rest = Walk(chain, at + 1, depth, assumed);
            branches.insert(branches.end(), rest.begin(), rest.end());
            return branches;
        }
        return {Branch{Branch::Return, "", "", "", "", unsure}};
    }

    enum class Action { None, Accept, Drop, Return, Jump, Goto, Unknown };

    struct RuleReading {
        Tri matches = Tri::Yes;
        Action action = Action::None;
        std::string target;  // Jump, Goto
        const Json* rule = nullptr;
    };

    static Branch Unsure(const std::string& why, const std::string& unsure) {
        return Branch{Branch::Unknown, why, "", "", "", unsure};
    }

    std::vector<Branch> Take(const RuleReading& reading, const Json& chain, size_t at, int depth,
                             const std::string& unsure) {
        const Json& rule = *reading.rule;
        const std::string family = rule.value("family", "");
        const std::string table = rule.value("table", "");
        switch (reading.action) {
            case Action::Accept:
                return {Branch{Branch::Accept, RuleName(rule), family, table,
                               rule.value("chain", ""), unsure}};
            case Action::Drop:
                return {Branch{Branch::Drop, RuleName(rule), family, table, rule.value("chain", ""),
                               unsure}};
            case Action::Return:
                return {Branch{Branch::Return, "", "", "", "", unsure}};
            case Action::Unknown:
                return {Unsure(RuleName(rule), unsure)};
            case Action::Jump:
            case Action::Goto:
                break;
            case Action::None:
                return {};
        }
        const auto target = chains_.find(family + " " + table + " " + reading.target);
        if (target == chains_.end() || target->second.definition == nullptr) {
            return {Unsure(RuleName(rule) + " jumps to a chain the ruleset lacks", unsure)};
        }
        if (depth >= kDeepestJump) {
            return {Unsure(RuleName(rule) + " jumps deeper than nftables allows", unsure)};
        }
        std::vector<Branch> inner = Walk(*target->second.definition, 0, depth + 1, unsure);
        if (reading.action == Action::Goto) {
            return inner;
        }
        std::vector<Branch> branches;
        for (const Branch& branch : inner) {
            if (branch.kind != Branch::Return) {
                branches.push_back(branch);
                continue;
            }
            std::vector<Branch> rest = Walk(chain, at + 1, depth, branch.unsure);
            for (Branch& after : rest) {
                after.guessedMatches += branch.guessedMatches;
            }
            branches.insert(branches.end(), rest.begin(), rest.end());
        }
        return branches;
    }

    static Tri And(Tri a, Tri b) {
        if (a == Tri::No || b == Tri::No) {
            return Tri::No;
        }
        return a == Tri::Maybe || b == Tri::Maybe ? Tri::Maybe : Tri::Yes;
    }

    RuleReading Read(const Json& rule) const {
        RuleReading reading;
        reading.rule = &rule;
        for (const Json& statement : rule.value("expr", Json::array())) {
            if (!statement.is_object() || statement.empty()) {
                continue;
            }
            const std::string kind = statement.begin().key();
            const Json& body = statement.begin().value();
            if (kind == "match") {
                reading.matches = And(reading.matches, Match(body));
            } else if (kind == "accept") {
                reading.action = Action::Accept;
            } else if (kind == "drop" || kind == "reject") {
                reading.action = Action::Drop;
            } else if (kind == "return") {
                reading.action = Action::Return;
            } else if (kind == "continue") {
                reading.action = Action::None;
            } else if (kind == "jump" || kind == "goto") {
                reading.action = kind == "jump" ? Action::Jump : Action::Goto;
                reading.target = body.value("target", "");
            } else if (kind == "queue") {
                // A program decides: nothing the ruleset shows.
                reading.action = Action::Unknown;
            } else if (kind == "vmap") {
                VerdictMap(body, &reading);
            } else if (kind == "xt") {
                Extension(body, &reading);
            } else if (kind == "limit" || kind == "quota") {
                // How many datagrams came before decides.
                reading.matches = And(reading.matches, Tri::Maybe);
            }
            // Counters, logs, marks, set updates and the like pass the datagram on.
        }
        return reading;
    }

    // An iptables extension that nft shows by its name only.
    static void Extension(const Json& body, RuleReading* reading) {
        const std::string name = body.value("name", "");
        if (body.value("type", "") == "match") {
            if (name != "comment") {
                reading->matches = And(reading->matches, Tri::Maybe);
            }
            return;
        }
        static const char* const kPassOn[] = {"LOG",   "NFLOG",       "MARK",   "CONNMARK",
                                              "AUDIT", "TCPMSS",      "DSCP",   "CLASSIFY",
                                              "TRACE", "CONNSECMARK", "SECMARK"};
        if (std::find(std::begin(kPassOn), std::end(kPassOn), name) != std::end(kPassOn)) {
            return;
        }
        reading->action = name == "REJECT" ? Action::Drop : Action::Unknown;
    }

    void VerdictMap(const Json& body, RuleReading* reading) const {
        const Field key = Left(body.value("key", Json()));
        Json data = body.value("data", Json());
        if (data.is_string()) {
            data = NamedElements(data.get<std::string>());
        } else if (data.is_object() && data.contains("set")) {
            data = data["set"];
        }
        if (key.kind == Field::Absent) {
            return;
        }
        if (key.kind == Field::Unknown || !data.is_array()) {
            reading->action = Action::Unknown;
            return;
        }
        for (const Json& pair : data) {
            if (!pair.is_array() || pair.size() != 2 || !pair[1].is_object() || pair[1].empty()) {
                reading->action = Action::Unknown;
                return;
            }
            const Tri hit = Relation("==", key, pair[0]);
            if (hit == Tri::No) {
                continue;
            }
            if (hit == Tri::Maybe) {
                reading->action = Action::Unknown;
                return;
            }
            RuleReading verdict = Read(Json{{"expr", Json::array({pair[1]})}});
            reading->action = verdict.action;
            reading->target = verdict.target;
            return;
        }
    }

    Json NamedElements(const std::string& reference) const {
        if (reference.empty() || reference[0] != '@') {
            return Json();
        }
        // A set is named within the table of the rule that uses it; the
        // reference does not say which table, so the judge takes the only
        // set of that name, and none when two tables share the name.
        const Json* found = nullptr;
        for (const auto& [key, set] : sets_) {
            if (set->value("name", "") == reference.substr(1)) {
                if (found != nullptr) {
                    return Json();
                }
                found = set;
            }
        }
        if (found == nullptr) {
            return Json();
        }
        const Json elements = found->value("elem", Json::array());
        return elements.is_array() ? elements : Json::array({elements});
    }

    Tri Match(const Json& body) const {
        const Field field = Left(body.value("left", Json()));
        return Relation(body.value("op", "=="), field, body.value("right", Json()));
    }

    Tri Relation(const std::string& op, const Field& field, Json right) const {
        if (field.kind == Field::Absent) {
            return Tri::No;
        }
        if (field.kind == Field::Unknown) {
            return Tri::Maybe;
        }
        if (right.is_string() && right.get<std::string>().rfind('@', 0) == 0) {
            right = NamedElements(right.get<std::string>());
            if (right.is_null()) {
                return Tri::Maybe;
            }
        } else if (right.is_object() && right.contains("set")) {
            right = right["set"];
        }
        const Json elements = right.is_array() ? right : Json::array({right});
        if (field.kind == Field::Flags) {
            return FlagRelation(op, field, elements);
        }
        Tri holds = Tri::No;
        if (field.kind == Field::Name) {
            for (const Json& element : elements) {
                const Json value = element.is_object() && element.contains("elem")
                                       ? element["elem"].value("val", Json())
                                       : element;
                if (!value.is_string()) {
                    holds = Tri::Maybe;
                    continue;
                }
                for (const std::string& name : field.names) {
                    if (NameMatches(value.get<std::string>(), name)) {
                        return op == "!=" ? Tri::No : Tri::Yes;
                    }
                }
            }
        } else {
            for (const Json& element : elements) {
                Interval interval;
                if (!ElementInterval(element, field, &interval)) {
                    holds = Tri::Maybe;
                    continue;
                }
                const Tri one = Compare(op == "!=" ? "==" : op, field.value, interval);
                if (one == Tri::Yes) {
                    holds = Tri::Yes;
                    break;
                }
                if (one == Tri::Maybe) {
                    holds = Tri::Maybe;
                }
            }
        }
        if (op == "!=") {
            return Not(holds);
        }
        return op == "==" || op == "in" || op == "<" || op == ">" || op == "<=" || op == ">="
                   ? holds
                   : Tri::Maybe;
    }

    static Tri Compare(const std::string& op, const Interval& field, const Interval& element) {
        if (op == "==" || op == "in") {
            if (element.low <= field.low && field.high <= element.high) {
                return Tri::Yes;
            }
            return element.low <= field.high && field.low <= element.high ? Tri::Maybe : Tri::No;
        }
        const auto holds = [&](uint64_t value) {
            return op == "<"    ? value < element.low
                   : op == ">"  ? value > element.high
                   : op == "<=" ? value <= element.low
                                : value >= element.high;
        };
        if (op != "<" && op != ">" && op != "<=" && op != ">=") {
            return Tri::Maybe;
        }
        const bool low = holds(field.low);
        const bool high = holds(field.high);
        return low == high ? (low ? Tri::Yes : Tri::No) : Tri::Maybe;
    }

    static Tri FlagRelation(const std::string& op, const Field& field, const Json& elements) {
        std::vector<std::string> flags;
        for (const Json& element : elements) {
            if (!element.is_string()) {
                return Tri::Maybe;
            }
            flags.push_back(element.get<std::string>());
        }
        const auto has = [&flags](const std::string& flag) {
            return std::find(flags.begin(), flags.end(), flag) != flags.end();
        };
        bool shared = false;
        bool same = flags.size() == field.names.size();
        for (const std::string& flag : field.names) {
            shared = shared || has(flag);
            same = same && has(flag);
        }
        if (op == "in") {
            return shared ? Tri::Yes : Tri::No;
        }
        if (op == "==" || op == "!=") {
            // A single value is a test of bits, as "in"; several joined by
            // "|" must equal the datagram's.
            const bool equal = flags.size() == 1 ? shared : same;
            return (op == "==") == equal ? Tri::Yes : Tri::No;
        }
        return Tri::Maybe;
    }

    Field Left(const Json& left) const {
        if (!left.is_object() || left.empty()) {
            return Unknown();
        }
        const std::string kind = left.begin().key();
        const Json& body = left.begin().value();
        if (kind == "meta") {
            return Meta(body.value("key", ""));
        }
        if (kind == "ct") {
            const std::string key = body.value("key", "");
            if (key == "state") {
                return Named(Field::Flags, {kReplyState});
            }
            if (key == "status") {
                return Named(Field::Flags, {});
            }
            if (key == "direction") {
                return Named(Field::Name, {"original"});
            }
            return Unknown();
        }
        if (kind == "payload") {
            return Payload(body.value("protocol", ""), body.value("field", ""));
        }
        return Unknown();
    }

    Field Meta(const std::string& key) const {
        if (key == "iif" || key == "iifname") {
            return Named(Field::Name, {datagram_.interfaceName});
        }
        if (key == "l4proto") {
            return Number(kUdp, kUdp);
        }
        if (key == "nfproto") {
            return Named(Field::Name, {"ipv4"});
        }
        if (key == "protocol") {
            return Named(Field::Name, {"ip"});
        }
        if (key == "pkttype") {
            return Named(Field::Name, {"host", "unicast"});
        }
        return Unknown();
    }

    Field Payload(const std::string& protocol, const std::string& field) const {
        if (OtherProtocol(protocol)) {
            return Absent();
        }
        if (protocol == "ip") {
            if (field == "saddr") {
                const uint64_t host = HostMask(datagram_.fromPrefix);
                return Number(datagram_.from & ~host & 0xffffffffu, datagram_.from | host, true);
            }
            if (field == "daddr") {
                return Number(datagram_.to, datagram_.to, true);
            }
            if (field == "protocol") {
                return Number(kUdp, kUdp);
            }
            return Unknown();
        }
        // The port a device answers from is its own choice: a match on the
        // source port is not judged.
        if ((protocol == "udp" || protocol == "th") && field == "dport") {
            return Number(datagram_.port, datagram_.port);
        }
        return Unknown();
    }

    IncomingDatagram datagram_;
    const RuleTexts& texts_;
    std::map<std::string, Chain> chains_;
    std::map<std::string, const Json*> sets_;
    int walks_ = 0;
};

}  // namespace

std::string RuleKey(const std::string& family, const std::string& table, int64_t handle) {
    return family + " " + table + " " + std::to_string(handle);
}

RuleTexts ReadRuleTexts(const std::string& listing) {
    RuleTexts texts;
    std::istringstream lines(listing);
    std::string line;
    std::string family;
    std::string table;
    const std::string marker = " # handle ";
    while (std::getline(lines, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos) {
            continue;
        }
        line.erase(0, start);
        if (line.rfind("table ", 0) == 0) {
            std::istringstream words(line.substr(6));
            words >> family >> table;
            continue;
        }
        const size_t at = line.rfind(marker);
        if (at == std::string::npos || line.compare(at == 0 ? 0 : at - 1, 1, "{") == 0) {
            continue;
        }
        // Counters say how many datagrams took the rule, not what it is.
        static const std::regex kCounter(" ?counter packets [0-9]+ bytes [0-9]+");
        try {
            texts[RuleKey(family, table, std::stoll(line.substr(at + marker.size())))] =
                std::regex_replace(line.substr(0, at), kCounter, "");
        } catch (const std::exception&) {
            // Not a rule's line.
        }
    }
    return texts;
}

NftVerdict JudgeRuleset(const nlohmann::json& ruleset, const IncomingDatagram& datagram,
                        const RuleTexts& texts) {
    return Judge(ruleset, datagram, texts).Verdict();
}
