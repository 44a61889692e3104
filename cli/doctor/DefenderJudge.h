#pragma once

#include <cstdint>
#include <string>

#include "cli/doctor/Finding.h"
#include "platform/DefenderFirewall.h"

// Whether the Windows Defender Firewall lets a device's reply in: a new
// datagram to UDP `port` for the program at `programPath`. One finding per
// profile of the networks connected now (all three when it names none), as
// the firewall decides:
//   - a profile that is off lets everything in;
//   - "block all incoming connections" lets nothing in, allowed or not;
//   - an enabled inbound rule that blocks the datagram wins over any rule
//     that allows it;
//   - then a default inbound action of allow, or an enabled inbound rule
//     that allows UDP (or any protocol) to the port, for this program or for
//     every program, lets it in.
// A rule holds for the datagram when its profiles include the profile, its
// local ports name the port (or any) and it names no service (a service's
// rule holds for that service alone). Remote addresses "*" and
// "LocalSubnet" hold the devices; any other list may not (a warning that
// names the rule). Interface types are not judged.
Findings JudgeDefenderFirewall(const DefenderFirewall& firewall, const std::string& programPath,
                               uint16_t port);

// The firewall could not be read (`why`): a warning, with the rule to add
// where it is on.
Finding DefenderUnread(const std::string& why, uint16_t port);
