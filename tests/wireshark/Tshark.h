#pragma once

#include <map>
#include <string>
#include <vector>

// tshark with the project's plugin, for the plugin's tests. It runs with a
// home folder of its own and without the system's plugins, so that a copy of
// the plugin among the user's plugins or the system's (the package
// velquint's), or the user's preferences, cannot change what a test sees.

// One packet's fields by name; the values of a field that occurs more than
// once are joined by commas, an absent field is empty.
using PacketFields = std::map<std::string, std::string>;

constexpr char kInfoField[] = "_ws.col.Info";
constexpr char kExpertField[] = "_ws.expert.message";

struct TsharkOutput {
    int status = -1;     // tshark's exit status
    std::string errors;  // its standard error
    std::vector<PacketFields> packets;

    // The Lua errors of the run, from the expert messages and the standard
    // error; empty when there were none.
    std::string LuaErrors() const;
};

// Dissects `capture` in two passes (the second shows frames that the capture
// ends in), with `options` added, and reads frame.number, the Info column,
// the expert messages and `fields` of every packet.
TsharkOutput RunTshark(const std::string& capture, const std::vector<std::string>& fields,
                       const std::vector<std::string>& options = {});
