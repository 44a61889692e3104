#include "cli/doctor/NftJudge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/doctor/Firewalls.h"

namespace {

using Json = nlohmann::json;

// A device's reply on lab0 from any host of 10.231.0.0/16 to 10.231.0.2.
const IncomingDatagram kReply{"lab0", 0x0ae70000, 16, 0x0ae70002, 3195};

// Rulesets as `nft -j list ruleset` writes them: table inet t, with the base
// chain "input" (policy given) and the regular chain "other", each rule one
// "expr" array; `extra` adds objects (sets, more chains).
Json Ruleset(const std::string& policy, const std::vector<std::string>& input,
             const std::vector<std::string>& other = {}, const std::string& extra = "") {
    Json objects = Json::array();
    objects.push_back(Json::parse(R"({"chain": {"family": "inet", "table": "t", "name": "input",
        "handle": 1, "type": "filter", "hook": "input", "prio": 0, "policy": ")" +
                                  policy + "\"}}"));
    objects.push_back(Json::parse(
        R"({"chain": {"family": "inet", "table": "t", "name": "other", "handle": 2}})"));
    int handle = 10;
    for (const auto& [chain, rules] : {std::make_pair("input", input), {"other", other}}) {
        for (const std::string& expr : rules) {
            objects.push_back({{"rule",
                                {{"family", "inet"},
                                 {"table", "t"},
                                 {"chain", chain},
                                 {"handle", handle++},
                                 {"expr", Json::parse(expr)}}}});
        }
    }
    if (!extra.empty()) {
        for (const Json& object : Json::parse(extra)) {
            objects.push_back(object);
        }
    }
    return {{"nftables", objects}};
}

std::string Match(const std::string& left, const std::string& right, const std::string& op = "==") {
    return R"({"match": {"op": ")" + op + R"(", "left": )" + left + R"(, "right": )" + right + "}}";
}

const std::string kUdpDport = R"({"payload": {"protocol": "udp", "field": "dport"}})";
const std::string kSaddr = R"({"payload": {"protocol": "ip", "field": "saddr"}})";
const std::string kAccept = R"({"accept": null})";
const std::string kDrop = R"({"drop": null})";

std::string Rule(const std::vector<std::string>& statements) {
    std::string rule = "[";
    for (const std::string& statement : statements) {
        rule += (rule.size() > 1 ? ", " : "") + statement;
    }
    return rule + "]";
}

TEST(NftJudge, JudgesRulesetsForAReply) {
    struct Case {
        const char* what;
        Json ruleset;
        Passage passage;
        const char* decidedBy;  // part of it; "" for any
    };
    const std::string established = Rule(
        {Match(R"({"ct": {"key": "state"}})", R"(["established", "related"])", "in"), kAccept});
    const std::string port = Rule({Match(kUdpDport, "3195"), kAccept});
    const std::string partOfSubnet =
        Rule({Match(kSaddr, R"({"prefix": {"addr": "10.231.1.0", "len": 24}})"), kAccept});
    const Case cases[] = {
        {"no ruleset", Json::parse(R"({"nftables": []})"), Passage::Accepted, ""},
        {"policy drop", Ruleset("drop", {established}), Passage::Dropped,
         "the policy drop of chain inet t input"},
        {"the port accepted", Ruleset("drop", {established, port}), Passage::Accepted,
         "rule handle 11 in chain inet t input"},
        {"a set with a range",
         Ruleset("drop",
                 {Rule({Match(kUdpDport, R"({"set": [22, {"range": [3000, 4000]}]})"), kAccept})}),
         Passage::Accepted, ""},
        {"another protocol's port",
         Ruleset("drop",
                 {Rule({Match(R"({"payload": {"protocol": "tcp", "field": "dport"}})", "3195"),
                        kAccept})}),
         Passage::Dropped, ""},
        {"an interface wildcard",
         Ruleset("drop", {Rule({Match(R"({"meta": {"key": "iifname"}})", R"("lab*")"), kAccept})}),
         Passage::Accepted, ""},
        {"another interface",
         Ruleset("drop", {Rule({Match(R"({"meta": {"key": "iif"}})", R"("eth0")"), kAccept})}),
         Passage::Dropped, ""},
        {"a wider subnet",
         Ruleset("drop",
                 {Rule({Match(kSaddr, R"({"prefix": {"addr": "10.0.0.0", "len": 8}})"), kAccept})}),
         Passage::Accepted, ""},
        {"part of the subnet", Ruleset("drop", {partOfSubnet}), Passage::MayDrop,
         "the policy drop of chain inet t input"},
        {"not from the subnet dropped",
         Ruleset("accept",
                 {Rule({Match(kSaddr, R"({"prefix": {"addr": "10.231.0.0", "len": 16}})", "!="),
                        kDrop})}),
         Passage::Accepted, ""},
        {"a named set",
         Ruleset("drop", {Rule({Match(kSaddr, R"("@lan")"), kAccept})}, {},
                 R"([{"set": {"family": "inet", "table": "t", "name": "lan",
                     "type": "ipv4_addr", "elem": [{"prefix": {"addr": "10.231.0.0", "len": 16}}]}}])"),
         Passage::Accepted, ""},
        {"jump and accept",
         Ruleset("drop",
                 {Rule({Match(R"({"meta": {"key": "l4proto"}})", R"("udp")"),
                        R"({"jump": {"target": "other"}})"})},
                 {port}),
         Passage::Accepted, ""},
        {"jump, return, policy",
         Ruleset("drop", {R"([{"jump": {"target": "other"}}])"}, {R"([{"return": null}])", port}),
         Passage::Dropped, "the policy drop"},
        {"goto and drop",
         Ruleset("accept", {R"([{"goto": {"target": "other"}}])", port}, {Rule({kDrop})}),
         Passage::Dropped, "rule handle 12 in chain inet t other"},
        {"an iptables match", Ruleset("drop", {R"([{"xt": {"type": "match", "name": "conntrack"}},
                                                  {"accept": null}])"}),
         Passage::MayDrop, ""},
        {"iptables' REJECT after LOG",
         Ruleset("accept", {R"([{"xt": {"type": "target", "name": "LOG"}}])",
                            R"([{"xt": {"type": "target", "name": "REJECT"}}])"}),
         Passage::Dropped, "rule handle 11"},
        {"a fib lookup",
         Ruleset("drop",
                 {Rule({Match(R"({"fib": {"result": "type", "flags": ["daddr"]}})", R"("local")"),
                        kAccept})}),
         Passage::MayDrop, ""},
        {"a limit",
         Ruleset("drop", {Rule({R"({"limit": {"rate": 10, "per": "second"}})", kAccept})}),
         Passage::MayDrop, ""},
        {"the port dropped", Ruleset("accept", {Rule({Match(kUdpDport, "3195"), kDrop})}),
         Passage::Dropped, ""},
        {"IPv6 only",
         Ruleset("accept", {Rule({Match(R"({"meta": {"key": "nfproto"}})", R"("ipv6")"), kDrop})}),
         Passage::Accepted, ""},
        {"a verdict map of states",
         Ruleset("accept", {R"([{"vmap": {"key": {"ct": {"key": "state"}}, "data": {"set": [
                                ["established", {"accept": null}], ["new", {"drop": null}]]}}}])"}),
         Passage::Dropped, ""},
        {"a second base chain drops",
         Ruleset("accept", {}, {},
                 R"([{"chain": {"family": "ip", "table": "filter", "name": "INPUT", "handle": 1,
                     "type": "filter", "hook": "input", "prio": 10, "policy": "drop"}}])"),
         Passage::Dropped, "chain ip filter INPUT"},
    };
    for (const Case& c : cases) {
        const NftVerdict verdict = JudgeRuleset(c.ruleset, kReply);
        EXPECT_EQ(verdict.passage, c.passage) << c.what << ": " << verdict.decidedBy;
        EXPECT_NE(verdict.decidedBy.find(c.decidedBy), std::string::npos)
            << c.what << ": " << verdict.decidedBy;
    }
}

TEST(NftJudge, NamesTheRuleItCannotEvaluateAndWhereToAddTheAccept) {
    RuleTexts texts = ReadRuleTexts(
        "table inet t { # handle 1\n"
        "\tchain input { # handle 1\n"
        "\t\ttype filter hook input priority filter; policy drop;\n"
        "\t\tip saddr 10.231.1.0/24 accept # handle 10\n"
        "\t}\n"
        "}\n");
    const NftVerdict verdict = JudgeRuleset(
        Ruleset("drop", {Rule({Match(kSaddr, R"({"prefix": {"addr": "10.231.1.0", "len": 24}})"),
                               kAccept})}),
        kReply, texts);
    EXPECT_EQ(verdict.unsure, "rule 'ip saddr 10.231.1.0/24 accept' in chain inet t input");
    EXPECT_EQ(verdict.family + " " + verdict.table + " " + verdict.chain, "inet t input");
}

TEST(FirewallStatus, JudgesUfwAndFirewalld) {
    const std::string ufw =
        "Status: active\nLogging: on (low)\n"
        "Default: deny (incoming), allow (outgoing), disabled (routed)\nNew profiles: skip\n\n"
        "To                         Action      From\n"
        "--                         ------      ----\n"
        "22/tcp                     ALLOW IN    Anywhere\n";
    struct UfwCase {
        std::string rule;
        Passage passage;
    };
    const UfwCase ufwCases[] = {
        {"", Passage::Dropped},
        {"velquint                   ALLOW IN    Anywhere\n", Passage::Accepted},
        {"3000:4000/udp on lab0      ALLOW IN    10.0.0.0/8\n", Passage::Accepted},
        {"3195/udp on eth0           ALLOW IN    Anywhere\n", Passage::Dropped},
        {"3195/tcp                   ALLOW IN    Anywhere\n", Passage::Dropped},
        {"3195                       ALLOW IN    10.231.1.0/24\n", Passage::MayDrop},
        {"3195/udp (v6)              ALLOW IN    Anywhere (v6)\n", Passage::Dropped},
    };
    for (const UfwCase& c : ufwCases) {
        EXPECT_EQ(JudgeUfwStatus(ufw + c.rule, kReply).passage, c.passage) << c.rule;
    }
    EXPECT_EQ(JudgeUfwStatus("Status: inactive\n", kReply).passage, Passage::Accepted);

    const std::string zone = "public (active)\n  target: default\n  interfaces: lab0\n";
    struct ZoneCase {
        std::string lines;
        Passage passage;
    };
    const ZoneCase zoneCases[] = {
        {"  services: dhcpv6-client ssh\n  ports: \n  rich rules: \n", Passage::Dropped},
        {"  services: ssh velquint\n", Passage::Accepted},
        {"  ports: 3190-3199/udp\n", Passage::Accepted},
        {"  rich rules: \n\trule family=\"ipv4\" source address=\"10.0.0.0/8\" accept\n",
         Passage::MayDrop},
    };
    for (const ZoneCase& c : zoneCases) {
        EXPECT_EQ(JudgeFirewalldZone(zone + c.lines, 3195).passage, c.passage) << c.lines;
    }
}

}  // namespace
