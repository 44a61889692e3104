// For the lab only: one search as the window makes it, by broadcast from a
// Windows program under wine, printing "<MAC> <IP> <interface>" for each
// reply. tests/lab/lab-wine.sh runs it once it has seen the prefix's
// wineserver in the lab's tool namespace, and says so in
// VELQUINT_LAB_WINE_PREFIX; without that the program sends nothing.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "discovery/DeviceListRows.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoverDevices.h"
#include "platform/Interfaces.h"

namespace {

constexpr int kFirstWaitSeconds = 2;
constexpr int kNotInALab = 3;

}  // namespace

int main() {
    const char* prefix = std::getenv("WINEPREFIX");
    const char* checked = std::getenv("VELQUINT_LAB_WINE_PREFIX");
    if (prefix == nullptr || checked == nullptr || std::strcmp(prefix, checked) != 0) {
        std::fprintf(stderr,
                     "*** LAB: this prefix's wineserver was not seen in a lab namespace; "
                     "refusing to search\n");
        return kNotInALab;
    }
    static uint8_t table[kDeviceTableSize];
    unsigned interfaces[kMaxDeviceRecords] = {};
    DiscoveryOptions options;
    options.replyInterfaces = interfaces;
    const int found =
        DiscoverDevices(table, sizeof table, kFirstWaitSeconds, kSearchTimeLimitMs, options);
    for (int i = 0; i < found; ++i) {
        DeviceRowTexts row;
        DeviceRowTextsAt(table, sizeof table, static_cast<unsigned>(i), &row);
        std::printf("%s %s %s\n", row.caption.c_str(), row.subItems[kSubItemIp].c_str(),
                    InterfaceName(interfaces[i]).c_str());
    }
    std::printf("found %d\n", found);
    return found > 0 ? 0 : 1;
}
