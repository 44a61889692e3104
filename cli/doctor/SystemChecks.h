#pragma once

#include <string>
#include <vector>

#include "cli/doctor/Finding.h"
#include "cli/doctor/LocalNetwork.h"

// The doctor's checks that ask this system's own tools, one file per system,
// which cli/CMakeLists.txt picks: SystemChecksLinux.cpp asks ss, and
// Firewalls.cpp nftables, iptables-legacy, ufw and firewalld;
// SystemChecksWindows.cpp reads the Windows Defender Firewall and judges it
// with DefenderJudge.h.

// Port 3195 is held by another program: `finding`'s text and fix, naming
// the program where the system tells.
void NamePortHolders(Finding* finding);

// Whether the firewall lets a device's reply in, on each interface a search
// goes out of.
Findings FirewallFindings(const std::vector<LocalInterface>& interfaces);

// The command that brings a network interface up that is down.
std::string BringUpCommand(const std::string& interfaceName);

// The help's words on what is checked, and on the firewall's fix.
std::string SystemChecksHelp();
std::string FirewallFixHelp();
