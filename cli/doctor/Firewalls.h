#pragma once

#include <string>
#include <vector>

#include "cli/doctor/Finding.h"
#include "cli/doctor/LocalNetwork.h"
#include "cli/doctor/NftJudge.h"
#include "cli/doctor/SystemChecks.h"

// Linux's firewalls (Firewalls.cpp, which the Linux build alone compiles):
// FirewallFindings (SystemChecks.h) judges the nftables ruleset of this
// network namespace (iptables-nft's rules are in it too), iptables-legacy's
// rules where they exist, and ufw and firewalld where they are installed,
// each asked in its own words so that the advice is the one its owner would
// give.

// `ufw status verbose` judged for `datagram`.
NftVerdict JudgeUfwStatus(const std::string& status, const IncomingDatagram& datagram);

// `firewall-cmd --zone=ZONE --list-all` judged for a datagram to `port`.
NftVerdict JudgeFirewalldZone(const std::string& listing, uint16_t port);
