#pragma once

#include <string>
#include <vector>

// The Windows Defender Firewall as its policy (INetFwPolicy2) holds it: what
// the doctor judges (cli/doctor/DefenderJudge.h). It is read on Windows
// only (DefenderFirewallWindows.cpp); the types are plain data, so that the
// judge and its tests build on both systems.

// The profiles, as the bits of NET_FW_PROFILE_TYPE2.
constexpr long kProfileDomain = 0x1;
constexpr long kProfilePrivate = 0x2;
constexpr long kProfilePublic = 0x4;
// A rule's protocol: NET_FW_IP_PROTOCOL's numbers, and "any".
constexpr long kProtocolTcp = 6;
constexpr long kProtocolUdp = 17;
constexpr long kProtocolAny = 256;

struct DefenderProfile {
    long type = 0;  // one of kProfile*
    bool enabled = false;
    // "Block all incoming connections, including those in the list of
    // allowed apps": no allow rule counts.
    bool blockAllInbound = false;
    bool inboundAllowedByDefault = false;  // the default inbound action is allow
};

struct DefenderRule {
    std::string name;
    bool enabled = false;
    bool inbound = false;
    bool allow = false;  // false: it blocks
    long protocol = kProtocolAny;
    std::string localPorts;       // "3195", "3000-4000,5000", "*"; empty: any
    std::string remoteAddresses;  // "*", "LocalSubnet", "10.0.0.0/255.0.0.0,..."; empty: any
    std::string application;      // a program's full path; empty: every program
    std::string service;          // a service's short name; empty: not only a service
    long profiles = 0;            // the kProfile* bits it holds in
};

struct DefenderFirewall {
    long currentProfiles = 0;  // the profiles of the networks connected now
    std::vector<DefenderProfile> profiles;
    std::vector<DefenderRule> rules;
};

// The policy and every rule; false, with the system's words in `why`, when
// it cannot be read (no firewall service: wine has none).
bool ReadDefenderFirewall(DefenderFirewall* firewall, std::string* why);

// This program's full path, as a rule names a program (UTF-8).
std::string ThisProgramPath();
