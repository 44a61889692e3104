#pragma once

#include <optional>
#include <string>
#include <vector>

#include "commission/Commission.h"

class Reporter;

// A commissioning run's steps, told through a Reporter: "[3/40] <MAC> setup
// confirmed" as each device takes a step, and what the run waits for
// ("waiting for 12 devices to come back, 4 s") when that changes.
class Progress : public CommissionObserver {
public:
    // `total`: the rows of the run, for the count.
    Progress(Reporter& reporter, size_t total) : reporter_(reporter), total_(total) {}

    // Names task number `task` by its device's MAC, the ID it writes and
    // the plan line it comes from (0: none).
    void Name(size_t task, const std::string& mac, std::optional<uint8_t> id, size_t line);
    // A row has ended without a task (taken from an earlier run, refused).
    void CountEnded() { ++finished_; }

    void OnStep(size_t task, CommissionStep step, const CommissionResult& result) override;
    void OnWaiting(size_t devices, int waitedMs) override;

private:
    struct Named {
        std::string mac;
        std::optional<uint8_t> id;
        size_t line = 0;
    };

    std::string Count() const;

    Reporter& reporter_;
    size_t total_;
    std::vector<Named> names_;
    size_t finished_ = 0;
    size_t lastWaiting_ = 0;
};
