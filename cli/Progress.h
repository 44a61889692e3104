#pragma once

#include <string>
#include <vector>

#include "commission/Commission.h"

class Reporter;

// A commissioning run's steps, told through a Reporter: "[3/40] <MAC> setup
// confirmed" as each device takes a step, and what the run waits for
// ("waiting for 12 devices to come back, 4 s") when that changes.
class Progress : public CommissionObserver {
public:
    // `labels`: what names each task (its MAC).
    Progress(Reporter& reporter, const std::vector<CommissionTask>& tasks,
             std::vector<std::string> labels);

    void OnStep(size_t task, CommissionStep step, const CommissionResult& result) override;
    void OnWaiting(size_t devices, int waitedMs) override;

private:
    Reporter& reporter_;
    const std::vector<CommissionTask>& tasks_;
    std::vector<std::string> labels_;
    size_t finished_ = 0;
    size_t lastWaiting_ = 0;
};
