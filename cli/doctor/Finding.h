#pragma once

#include <string>
#include <vector>

// What `velquint doctor` found: one line each, with what to do about it.

enum class Severity {
    Ok,       // nothing stands in the way here
    Note,     // worth knowing; a search works all the same
    Warning,  // may stand in the way; the check could not tell for sure
    Problem,  // stands in the way of a search
};

// "ok", "note", "warning", "problem".
const char* SeverityWord(Severity severity);

struct Finding {
    std::string check;  // which part of the machine: "port", "interface", "route", "firewall", ...
    std::string token;  // a stable word for programs: "port-taken", "nftables-drops", ...
    Severity severity = Severity::Ok;
    std::string text;           // what was found, for people
    std::string fix;            // what to do about it; empty when nothing is to be done
    std::string interfaceName;  // the interface it is about, if one
};

using Findings = std::vector<Finding>;
