#include "common/BaudRate.h"

bool BaudRateForCode(uint8_t code, uint32_t* rate) {
    if (code >= kBaudRateCount) {
        return false;
    }
    *rate = kBaudRates[code];
    return true;
}
