#include "platform/Routes.h"

// winsock2.h first: the headers below need its definitions.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>

#include "platform/Interfaces.h"

std::vector<DefaultRoute> ListDefaultRoutes() {
    std::vector<std::pair<ULONG, DefaultRoute>> found;
    MIB_IPFORWARD_TABLE2* table = nullptr;
    if (GetIpForwardTable2(AF_INET, &table) != NO_ERROR) {
        return {};
    }
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2& row = table->Table[i];
        if (row.DestinationPrefix.PrefixLength != 0) {
            continue;
        }
        DefaultRoute route;
        route.interfaceName = InterfaceName(row.InterfaceIndex);
        route.gateway = ntohl(row.NextHop.Ipv4.sin_addr.s_addr);
        found.emplace_back(row.Metric, route);
    }
    FreeMibTable(table);
    // The interface's own metric counts too, but the route's orders them
    // well enough for a finding.
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<DefaultRoute> routes;
    for (const auto& [metric, route] : found) {
        routes.push_back(route);
    }
    return routes;
}

unsigned BroadcastInterface() {
    DWORD index = 0;
    return GetBestInterface(htonl(INADDR_BROADCAST), &index) == NO_ERROR
               ? static_cast<unsigned>(index)
               : 0;
}
