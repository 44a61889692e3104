#include "platform/Routes.h"

#include <arpa/inet.h>
#include <net/route.h>

#include <fstream>
#include <sstream>

namespace {

constexpr char kRouteTable[] = "/proc/net/route";
constexpr int kHexBase = 16;

}  // namespace

std::vector<DefaultRoute> ListDefaultRoutes() {
    std::vector<DefaultRoute> routes;
    std::ifstream table(kRouteTable);
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name;
        std::string destination;
        std::string gateway;
        unsigned flags = 0;
        int skipped = 0;
        std::string mask;
        if (!(fields >> name >> destination >> gateway >> std::hex >> flags >> std::dec >>
              skipped >> skipped >> skipped >> mask)) {
            continue;
        }
        if ((flags & RTF_UP) == 0 || std::stoul(destination, nullptr, kHexBase) != 0 ||
            std::stoul(mask, nullptr, kHexBase) != 0) {
            continue;
        }
        // The table writes addresses as the kernel holds them, in network order.
        const uint32_t gatewayValue =
            (flags & RTF_GATEWAY) != 0
                ? ntohl(static_cast<uint32_t>(std::stoul(gateway, nullptr, kHexBase)))
                : 0;
        routes.push_back({name, gatewayValue});
    }
    return routes;
}

unsigned BroadcastInterface() {
    return 0;
}
