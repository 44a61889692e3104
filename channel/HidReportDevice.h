#pragma once

// The report-level seam of the HID transport (platform/HidDevices.h), and
// the backend that its opens use.
#include "platform/HidDevices.h"

// The backend that HID opens use: the one installed by SetHidBackend, or the
// system's.
HidBackend& CurrentHidBackend();

// Makes later HID opens use `backend` (not owned; null restores the system's)
// and returns the one installed before, so that tests can put a device tree
// of their own in place and restore the previous one afterwards.
HidBackend* SetHidBackend(HidBackend* backend);
