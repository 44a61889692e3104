#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sim/SimDevice.h"

// A simulated device with the simulator's defaults and `settings` (its
// --device keys) applied, for the tests of the simulator's own parts.
inline SimDevice Parsed(const std::string& settings) {
    SimDevice device = DefaultSimDevice(0, {192, 168, 1, 100});
    std::string error;
    EXPECT_TRUE(ApplyDeviceSettings(settings, &device, &error)) << error;
    return device;
}
