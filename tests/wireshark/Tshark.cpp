#include "tests/wireshark/Tshark.h"

#include <sys/wait.h>

#include <cstdlib>

#include "tests/lab/LabSupport.h"

namespace {

std::string Quoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Tab-separated values, the empty ones kept.
std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> parts(1);
    for (char c : line) {
        if (c == '\t') {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

}  // namespace

std::string TsharkOutput::LuaErrors() const {
    std::string found = errors.find("Lua") == std::string::npos ? "" : errors;
    for (const PacketFields& packet : packets) {
        const std::string& expert = packet.at(kExpertField);
        if (expert.find("Lua Error") != std::string::npos) {
            found += "packet " + packet.at("frame.number") + ": " + expert + "\n";
        }
    }
    return found;
}

TsharkOutput RunTshark(const std::string& capture, const std::vector<std::string>& fields,
                       const std::vector<std::string>& options) {
    static const TempDir home;
    const TempDir run;
    std::vector<std::string> names = {"frame.number", kInfoField, kExpertField};
    names.insert(names.end(), fields.begin(), fields.end());
    std::string command = "env -u XDG_CONFIG_HOME HOME=" + Quoted(home.File("")) + " " +
                          Quoted(VELQUINT_TSHARK) +
                          " -2 -n -X lua_script:" + Quoted(VELQUINT_PLUGIN) + " -r " +
                          Quoted(capture) + " -T fields -E separator=/t -E occurrence=a";
    for (const std::string& option : options) {
        command += " " + Quoted(option);
    }
    for (const std::string& name : names) {
        command += " -e " + Quoted(name);
    }
    const int status = std::system(
        (command + " >" + Quoted(run.File("out")) + " 2>" + Quoted(run.File("errors"))).c_str());

    TsharkOutput output;
    output.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (const std::string& line : ReadLines(run.File("errors"))) {
        output.errors += line + "\n";
    }
    for (const std::string& line : ReadLines(run.File("out"))) {
        const std::vector<std::string> values = Split(line);
        PacketFields& packet = output.packets.emplace_back();
        for (size_t n = 0; n < names.size(); ++n) {
            packet[names[n]] = n < values.size() ? values[n] : "";
        }
    }
    return output;
}
