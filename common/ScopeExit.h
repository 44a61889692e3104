#pragma once

#include <utility>

// Runs an action when the scope that made it ends, on every way out: closes
// the socket of one exchange, or the channel of one Set ID. Release() keeps
// what the scope made, for the way out where it is handed on.
template <typename Action>
class ScopeExit {
public:
    explicit ScopeExit(Action action) : action_(std::move(action)) {}
    ~ScopeExit() {
        if (armed_) {
            action_();
        }
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

    void Release() { armed_ = false; }

private:
    Action action_;
    bool armed_ = true;
};
