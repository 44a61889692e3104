#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <string>

// Judges an nftables ruleset (`nft -j list ruleset`) for one datagram: a
// device's reply to a search, UDP to port 3195 on one of our interfaces,
// from another host of that interface's subnet. The reply does not belong to
// the request's connection (the request went to 255.255.255.255), so
// connection tracking sees it as new.
//
// The base chains of the ingress, prerouting (filter) and input hooks are
// walked in the order the kernel walks them, following jump, goto and return.
// A match the judge cannot evaluate (a fib lookup, an iptables extension
// that nft shows only by name, a limit) is taken both ways, and when the two
// ways end differently the verdict is "may drop", naming that rule, rather
// than a guess.

struct IncomingDatagram {
    std::string interfaceName;
    uint32_t from = 0;    // the sender's subnet (host byte order) ...
    int fromPrefix = 32;  // ... and its prefix length: any host of it
    uint32_t to = 0;      // our address on that interface
    uint16_t port = 0;    // the destination port
};

enum class Passage { Accepted, Dropped, MayDrop };

struct NftVerdict {
    Passage passage = Passage::Accepted;
    // The rule or policy that decides it ("the policy drop of chain inet
    // filter input"); for MayDrop, the drop that may happen.
    std::string decidedBy;
    // MayDrop: the rule the judge could not evaluate.
    std::string unsure;
    // Where a drop happens, for the advice: family, table and chain.
    std::string family, table, chain;
};

// The text of each rule as `nft -a list ruleset` prints it, by family, table
// and handle, so that a verdict can name the rule as its owner wrote it.
using RuleTexts = std::map<std::string, std::string>;
std::string RuleKey(const std::string& family, const std::string& table, int64_t handle);
RuleTexts ReadRuleTexts(const std::string& listing);

NftVerdict JudgeRuleset(const nlohmann::json& ruleset, const IncomingDatagram& datagram,
                        const RuleTexts& texts = {});
