#include "discovery/TextFormats.h"

#include <cstdio>

void FormatMacAddress(const uint8_t* bytes, char (&text)[kMacTextSize]) {
    std::snprintf(text, sizeof text, "%2.2X.%2.2X.%2.2X.%2.2X.%2.2X.%2.2X", bytes[0], bytes[1],
                  bytes[2], bytes[3], bytes[4], bytes[5]);
}

void FormatIpAddress(const uint8_t* bytes, char (&text)[kIpTextSize]) {
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
}
