#pragma once

// PLACEHOLDER until the HID transport lands with the real report-level
// interface of the same name. COM_Class only needs the type complete to
// release what HidHandle holds.
class HidReportDevice {
public:
    virtual ~HidReportDevice() = default;
};
