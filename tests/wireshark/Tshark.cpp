#include "tests/wireshark/Tshark.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/LabSupport.h"

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

// Wireshark loads the system's Lua plugins before the script of -X, and two
// copies of the plugin cannot register the same protocols ("there cannot be
// two protocols with the same description"). So that the tests also pass
// where the package velquint has put its copy among the system's plugins,
// tshark sees none of them: an ordinary user's tshark through
// WIRESHARK_PLUGIN_DIR (the environment below); root's, which ignores that
// variable, in a mount namespace of its own with an empty folder over the
// system's plugin folder (the command this returns goes first).
std::string HidingSystemPlugins(const std::string& emptyFolder) {
    struct stat folder {};
    if (geteuid() != 0 || stat(VELQUINT_TSHARK_SYSTEM_PLUGINS, &folder) != 0) {
        return "";
    }
    return "unshare --mount --propagation private sh -c "
           "'mount --bind \"$1\" \"$2\" && shift 2 && exec \"$@\"' sh " +
           Quoted(emptyFolder) + " " + Quoted(VELQUINT_TSHARK_SYSTEM_PLUGINS) + " ";
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
    const std::string noPlugins = home.File("no-plugins");
    mkdir(noPlugins.c_str(), 0755);
    std::string command =
        HidingSystemPlugins(noPlugins) + "env -u XDG_CONFIG_HOME HOME=" + Quoted(home.File("")) +
        " WIRESHARK_PLUGIN_DIR=" + Quoted(noPlugins) + " " + Quoted(VELQUINT_TSHARK) +
        " -2 -n -X lua_script:" + Quoted(VELQUINT_PLUGIN) + " -r " + Quoted(capture) +
        " -T fields -E separator=/t -E occurrence=a";
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
