#pragma once

#include <string>

// Discovery and setup traffic (UDP port 3195, broadcasts) must never leave the
// lab of network namespaces that tests/lab/lab.sh builds. Everything that sends
// such traffic in a test, and the simulator itself, checks first that it runs
// in one of the lab's namespaces.
constexpr char kLabNamespacePrefix[] = "vqlab-";

bool IsLabNamespaceName(const std::string& name);

// The name `ip netns identify` gives this process's network namespace; empty
// for an unnamed namespace (the machine's own, say) or when it cannot be told.
std::string CurrentNetworkNamespace();

// Empty when this process runs in a lab namespace; otherwise a message that
// says why it does not.
std::string LabNamespaceProblem();
