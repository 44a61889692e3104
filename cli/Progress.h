#pragma once

#include <string>
#include <vector>

#include "commission/Commission.h"

// What a commissioning run is doing, on stderr. On a terminal one line is
// redrawn: the last step, or what the run waits for. Elsewhere each step is a
// line of its own, and a wait is said when the number of devices awaited
// changes.
class Progress : public CommissionObserver {
public:
    // `labels`: what names each task in a line (its MAC).
    Progress(const std::vector<CommissionTask>& tasks, std::vector<std::string> labels);
    ~Progress() override;
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void OnStep(size_t task, CommissionStep step, const CommissionResult& result) override;
    void OnWaiting(size_t devices, int waitedMs) override;

private:
    void Show(const std::string& line);

    const std::vector<CommissionTask>& tasks_;
    std::vector<std::string> labels_;
    size_t finished_ = 0;
    bool terminal_;
    bool drawn_ = false;
    size_t lastWaiting_ = 0;
};
