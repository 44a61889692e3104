#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "sim/LabGuard.h"
#include "tests/support/LabSupport.h"

namespace {

TEST(LabNamespaceName, OnlyNamesWithTheLabPrefixCount) {
    const struct {
        const char* name;
        bool lab;
    } cases[] = {
        {"vqlab-4242-0a1b-tool", true},
        {"vqlab-4242-0a1b-dev3", true},
        {"", false},
        {"vqlab-", false},
        {"vqlab", false},
        {"my-vqlab-1-tool", false},
        {"VQLAB-1-tool", false},
        {"vqlab-1-tool\nother", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsLabNamespaceName(c.name), c.lab) << '"' << c.name << '"';
    }
}

TEST(LabGuard, AcceptsTheLabsToolNamespace) {
    EXPECT_EQ(CurrentNetworkNamespace(), Lab().toolNamespace);
    EXPECT_EQ(LabNamespaceProblem(), "");
}

// A fresh network namespace has no name, as the machine's own has none: the
// guard must stop the process there before anything is sent.
TEST(LabGuardDeathTest, StopsAProcessOutsideTheLab) {
    EXPECT_EXIT(
        {
            if (unshare(CLONE_NEWNET) != 0) {
                _exit(99);
            }
            RequireLabNamespace();
            _exit(0);
        },
        testing::ExitedWithCode(kLabGuardExitStatus), "not in a lab namespace");
}

TEST(LabGuard, SimulatorRefusesToStartOutsideTheLab) {
    const std::string output =
        CommandOutput("unshare --net '" + Lab().simulator +
                      "' --device mac=00.11.22.33.44.55 2>&1; echo status=$?");
    EXPECT_NE(output.find("not in a lab namespace"), std::string::npos) << output;
    EXPECT_NE(output.find("status=3"), std::string::npos) << output;
    EXPECT_EQ(output.find("ready"), std::string::npos) << output;
}

TEST(LabShape, ToolNamespaceHasItsAddressAndTheRouteAsked) {
    const std::string addresses = CommandOutput("ip -4 -o addr show dev lab0");
    EXPECT_NE(addresses.find("inet " + Lab().toolIp + "/16"), std::string::npos) << addresses;
    const std::string route = CommandOutput("ip route show default");
    if (Lab().route == "device") {
        EXPECT_EQ(route.rfind("default dev lab0", 0), 0u) << route;
    } else if (Lab().route == "gateway") {
        EXPECT_EQ(route.rfind("default via 10.231.0.1 dev lab0", 0), 0u) << route;
    } else {
        EXPECT_EQ(route, "");
    }
}

TEST(LabShape, SimulatorsStartInEveryDeviceNamespace) {
    for (size_t k = 0; k < Lab().deviceNamespaces.size(); ++k) {
        SimProcess sim({"--device", "mac=00.11.22.33.44.55"}, k);
        EXPECT_TRUE(sim.ready()) << sim.failure();
    }
}

}  // namespace
