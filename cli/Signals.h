#pragma once

#include <functional>

// Ctrl-C (SIGINT), Ctrl-Break and SIGTERM ask the running command to stop:
// long loops look at Asked() and end with what they have, and the command
// ends with Status(): 130 for SIGINT, 143 for SIGTERM, as shells count them.
// A second signal ends the program at once.
class StopSignal {
public:
    // The signals' handlers, installed once for the process.
    static const StopSignal& Watch();

    bool Asked() const;
    int Status() const;
    // Asked(), for loops that take a check.
    std::function<bool()> Check() const {
        return [this] { return Asked(); };
    }
};
