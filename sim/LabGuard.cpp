#include "sim/LabGuard.h"

#include <cstdio>
#include <cstring>

namespace {

// `ip` lives in /usr/sbin or /sbin, which a test runner's PATH may lack.
constexpr char kIdentifyCommand[] = "PATH=\"$PATH:/usr/sbin:/sbin\" ip netns identify 2>/dev/null";
constexpr size_t kNameBufferSize = 256;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

bool IsLabNamespaceName(const std::string& name) {
    const size_t prefixLength = std::strlen(kLabNamespacePrefix);
    return name.size() > prefixLength && name.compare(0, prefixLength, kLabNamespacePrefix) == 0 &&
           name.find_first_of(" \t\n") == std::string::npos;
}

std::string CurrentNetworkNamespace() {
    FILE* pipe = popen(kIdentifyCommand, "r");
    if (pipe == nullptr) {
        return {};
    }
    std::string output;
    char buffer[kNameBufferSize];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, got);
    }
    pclose(pipe);
    return Trimmed(output);
}

std::string LabNamespaceProblem() {
    const std::string name = CurrentNetworkNamespace();
    if (IsLabNamespaceName(name)) {
        return {};
    }
    return "refusing to send: this process runs in network namespace \"" + name +
           "\" (as `ip netns identify` names it), not in a lab namespace \"" + kLabNamespacePrefix +
           "...\"; run it through tests/lab/lab.sh";
}
