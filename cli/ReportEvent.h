#pragma once

#include <nlohmann/json.hpp>

#include <string>

// Something that happened to one item of the work (a device), or to the run.
struct ReportEvent {
    std::string event;    // a stable token: "setup-confirmed", "verified", ...
    std::string subject;  // what it is about, a MAC; empty for the whole run
    std::string text;     // the same for people
    // Further fields for programs (JSON Lines only).
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    // A small step (a first datagram, another second of a wait): a terminal
    // shows it, a log of lines leaves it out.
    bool minor = false;
};
