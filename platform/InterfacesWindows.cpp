#include "platform/Interfaces.h"

// winsock2.h first: the headers below need its definitions.
#include <winsock2.h>

#include <iphlpapi.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <memory>

#include "platform/WideTextWindows.h"

namespace {

// Microsoft's advice for the first try; the call says how much it needs.
constexpr ULONG kFirstListSize = 15 * 1024;
constexpr int kListTries = 4;
constexpr ULONG kListFlags =
    GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
constexpr unsigned kIpv4Bits = 32;

uint32_t MaskOf(unsigned prefixLength) {
    return prefixLength == 0 ? 0 : ~uint32_t{0} << (kIpv4Bits - std::min(prefixLength, kIpv4Bits));
}

// Windows has no IFF_BROADCAST; point-to-point links and the loopback are
// the interfaces without a broadcast address.
bool BroadcastCapable(IFTYPE type) {
    return type != IF_TYPE_SOFTWARE_LOOPBACK && type != IF_TYPE_PPP && type != IF_TYPE_TUNNEL;
}

// GetAdaptersAddresses for `family`: AF_INET lists the adapters with IPv4,
// AF_UNSPEC every adapter.
std::unique_ptr<uint8_t[]> AdapterList(ULONG family) {
    ULONG size = kFirstListSize;
    for (int tries = 0; tries < kListTries; ++tries) {
        std::unique_ptr<uint8_t[]> list(new uint8_t[size]);
        const ULONG result =
            GetAdaptersAddresses(family, kListFlags, nullptr,
                                 reinterpret_cast<IP_ADAPTER_ADDRESSES*>(list.get()), &size);
        if (result == NO_ERROR) {
            return list;
        }
        if (result != ERROR_BUFFER_OVERFLOW) {
            break;
        }
    }
    return nullptr;
}

NetworkInterface Adapter(const IP_ADAPTER_ADDRESSES& adapter) {
    NetworkInterface entry;
    entry.index = adapter.IfIndex;
    entry.name = Utf8(adapter.FriendlyName);
    entry.up = adapter.OperStatus == IfOperStatusUp;
    entry.loopback = adapter.IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    entry.broadcastCapable = BroadcastCapable(adapter.IfType);
    return entry;
}

void SetAddress(NetworkInterface* entry, const IP_ADAPTER_UNICAST_ADDRESS& unicast) {
    const sockaddr* address = unicast.Address.lpSockaddr;
    entry->hasIpv4 = true;
    entry->address = ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
    entry->netmask = MaskOf(unicast.OnLinkPrefixLength);
    if (entry->broadcastCapable) {
        entry->broadcast = entry->address | ~entry->netmask;
    }
}

bool IsIpv4(const IP_ADAPTER_UNICAST_ADDRESS& unicast) {
    const sockaddr* address = unicast.Address.lpSockaddr;
    return address != nullptr && address->sa_family == AF_INET;
}

}  // namespace

std::vector<NetworkInterface> ListIpv4Interfaces() {
    std::vector<NetworkInterface> interfaces;
    const std::unique_ptr<uint8_t[]> list = AdapterList(AF_INET);
    if (!list) {
        return interfaces;
    }
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(list.get());
         adapter != nullptr; adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr; unicast = unicast->Next) {
            if (!IsIpv4(*unicast)) {
                continue;
            }
            NetworkInterface entry = Adapter(*adapter);
            SetAddress(&entry, *unicast);
            interfaces.push_back(std::move(entry));
        }
    }
    return interfaces;
}

std::vector<NetworkInterface> ListInterfaces() {
    std::vector<NetworkInterface> interfaces;
    const std::unique_ptr<uint8_t[]> list = AdapterList(AF_UNSPEC);
    if (!list) {
        return interfaces;
    }
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(list.get());
         adapter != nullptr; adapter = adapter->Next) {
        NetworkInterface entry = Adapter(*adapter);
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr && !entry.hasIpv4; unicast = unicast->Next) {
            if (IsIpv4(*unicast)) {
                SetAddress(&entry, *unicast);
            }
        }
        // Windows keeps tunnel adapters (Teredo, IP-HTTPS) up without IPv4:
        // no search could use them, and no one asks about them.
        if (entry.hasIpv4 || entry.broadcastCapable) {
            interfaces.push_back(std::move(entry));
        }
    }
    return interfaces;
}

// By the name people see ("Ethernet", "Wi-Fi"), or else by the system's
// own name for it ("ethernet_32768").
unsigned InterfaceIndex(const std::string& name) {
    for (const NetworkInterface& entry : ListIpv4Interfaces()) {
        if (entry.name == name) {
            return entry.index;
        }
    }
    return if_nametoindex(name.c_str());
}

std::string InterfaceName(unsigned index) {
    for (const NetworkInterface& entry : ListIpv4Interfaces()) {
        if (index != 0 && entry.index == index) {
            return entry.name;
        }
    }
    return "";
}
