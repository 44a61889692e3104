#include "cli/doctor/DefenderJudge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint16_t kPort = 3195;
const std::string kProgram = "C:\\Tools\\velquint.exe";

// The firewall on, connected to a public network only, blocking what no
// rule allows (Windows' defaults), with `rules`.
DefenderFirewall Firewall(const std::vector<DefenderRule>& rules) {
    DefenderFirewall firewall;
    firewall.currentProfiles = kProfilePublic;
    for (const long type : {kProfileDomain, kProfilePrivate, kProfilePublic}) {
        firewall.profiles.push_back({type, true, false, false});
    }
    firewall.rules = rules;
    return firewall;
}

// An enabled inbound rule for UDP to the port, every program, every
// profile, every sender: each case changes what it needs.
DefenderRule Rule(const std::string& name, bool allow = true) {
    DefenderRule rule;
    rule.name = name;
    rule.enabled = true;
    rule.inbound = true;
    rule.allow = allow;
    rule.protocol = kProtocolUdp;
    rule.localPorts = "3195";
    rule.remoteAddresses = "*";
    rule.profiles = 0x7FFFFFFF;
    return rule;
}

template <typename Change>
DefenderRule Changed(DefenderRule rule, Change change) {
    change(rule);
    return rule;
}

struct Case {
    const char* what;
    std::vector<DefenderRule> rules;
    const char* token;
    Severity severity;
    const char* text;  // part of the finding's text
};

TEST(DefenderJudge, RulesDecideAReplyAsTheFirewallWould) {
    const DefenderRule velquint = Rule("velquint");
    const std::vector<Case> cases = {
        {"no rule",
         {},
         "defender-drops",
         Severity::Problem,
         "drops replies to UDP port 3195 on the public network"},
        {"the netsh rule", {velquint}, "defender-accepts", Severity::Ok, "(rule 'velquint')"},
        {"for this program, in other case and slashes",
         {Changed(velquint, [](DefenderRule& r) { r.application = "c:/tools/VELQUINT.EXE"; })},
         "defender-accepts",
         Severity::Ok,
         "in on the public network"},
        {"for another program",
         {Changed(velquint, [](DefenderRule& r) { r.application = "C:\\Other\\tool.exe"; })},
         "defender-drops",
         Severity::Problem,
         "no rule lets them in"},
        {"any protocol, a range of ports",
         {Changed(velquint,
                  [](DefenderRule& r) {
                      r.protocol = kProtocolAny;
                      r.localPorts = "80, 3000-4000";
                  })},
         "defender-accepts",
         Severity::Ok,
         ""},
        {"TCP only",
         {Changed(velquint, [](DefenderRule& r) { r.protocol = kProtocolTcp; })},
         "defender-drops",
         Severity::Problem,
         ""},
        {"another port",
         {Changed(velquint, [](DefenderRule& r) { r.localPorts = "3196,RPC"; })},
         "defender-drops",
         Severity::Problem,
         ""},
        {"disabled",
         {Changed(velquint, [](DefenderRule& r) { r.enabled = false; })},
         "defender-drops",
         Severity::Problem,
         ""},
        {"outbound",
         {Changed(velquint, [](DefenderRule& r) { r.inbound = false; })},
         "defender-drops",
         Severity::Problem,
         ""},
        {"the private profile only",
         {Changed(velquint, [](DefenderRule& r) { r.profiles = kProfilePrivate; })},
         "defender-drops",
         Severity::Problem,
         ""},
        {"a service's",
         {Changed(velquint, [](DefenderRule& r) { r.service = "Dhcp"; })},
         "defender-drops",
         Severity::Problem,
         ""},
        {"the local subnet",
         {Changed(velquint, [](DefenderRule& r) { r.remoteAddresses = "LocalSubnet"; })},
         "defender-accepts",
         Severity::Ok,
         ""},
        {"some senders only",
         {Changed(velquint, [](DefenderRule& r) { r.remoteAddresses = "10.0.0.0/255.0.0.0"; })},
         "defender-may-drop",
         Severity::Warning,
         "only from 10.0.0.0/255.0.0.0"},
        {"a block rule wins",
         {velquint,
          Changed(Rule("velquint.exe", false), [](DefenderRule& r) { r.application = kProgram; })},
         "defender-block-rule",
         Severity::Problem,
         "rule 'velquint.exe' blocks replies"},
        {"a block rule for some senders",
         {velquint, Changed(Rule("scoped", false),
                            [](DefenderRule& r) { r.remoteAddresses = "192.168.0.0/16"; })},
         "defender-may-block",
         Severity::Warning,
         "from 192.168.0.0/16"},
    };
    for (const Case& c : cases) {
        const Findings findings = JudgeDefenderFirewall(Firewall(c.rules), kProgram, kPort);
        ASSERT_EQ(findings.size(), 1u) << c.what;
        EXPECT_EQ(findings[0].check, "firewall") << c.what;
        EXPECT_EQ(findings[0].token, c.token) << c.what;
        EXPECT_EQ(findings[0].severity, c.severity) << c.what;
        EXPECT_NE(findings[0].text.find(c.text), std::string::npos)
            << c.what << ": " << findings[0].text;
    }
}

TEST(DefenderJudge, ProfilesDecideBeforeRules) {
    DefenderFirewall off = Firewall({});
    off.profiles[2].enabled = false;
    DefenderFirewall blockAll = Firewall({Rule("velquint")});
    blockAll.profiles[2].blockAllInbound = true;
    DefenderFirewall allowByDefault = Firewall({});
    allowByDefault.profiles[2].inboundAllowedByDefault = true;
    const std::vector<std::pair<DefenderFirewall, const char*>> cases = {
        {off, "defender-off"},
        {blockAll, "defender-blocks-all"},
        {allowByDefault, "defender-accepts"},
    };
    for (const auto& [firewall, token] : cases) {
        const Findings findings = JudgeDefenderFirewall(firewall, kProgram, kPort);
        ASSERT_EQ(findings.size(), 1u) << token;
        EXPECT_EQ(findings[0].token, token);
    }
    // Each connected network's profile is judged; none connected: all three.
    DefenderFirewall two = Firewall({});
    two.currentProfiles = kProfileDomain | kProfilePrivate;
    EXPECT_EQ(JudgeDefenderFirewall(two, kProgram, kPort).size(), 2u);
    two.currentProfiles = 0;
    EXPECT_EQ(JudgeDefenderFirewall(two, kProgram, kPort).size(), 3u);
}

TEST(DefenderJudge, GivesTheRuleToAdd) {
    const std::string add =
        "netsh advfirewall firewall add rule name=velquint dir=in action=allow protocol=UDP "
        "localport=3195";
    const Findings findings = JudgeDefenderFirewall(Firewall({}), kProgram, kPort);
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_NE(findings[0].fix.find(add), std::string::npos) << findings[0].fix;
    const Finding unread = DefenderUnread("Not implemented", kPort);
    EXPECT_EQ(unread.severity, Severity::Warning);
    EXPECT_EQ(unread.token, "defender-unread");
    EXPECT_NE(unread.text.find("could not be read (Not implemented)"), std::string::npos);
    EXPECT_NE(unread.fix.find(add), std::string::npos);
}

}  // namespace
