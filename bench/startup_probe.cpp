// Measures the tool's start-up: the time from starting the process until its
// window is mapped on the X server, and the process's peak resident memory
// (the "maximum resident set size" of wait4, the figure /usr/bin/time -v
// reports). Runs the tool several times on a private Xvfb server, closes the
// window as a window manager would, and prints every run and the medians.
//
// Usage: velquint_startup_probe <tool> [runs]

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/XSession.h"

namespace {

const char* const kCaption = "Velquint Tool  V1.06";
constexpr int kDefaultRuns = 15;
constexpr int kTimeoutMs = 30000;

template <typename T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <tool> [runs]\n", argv[0]);
        return 2;
    }
    const std::string tool = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : kDefaultRuns;

    XvfbServer server;
    std::string error;
    if (!server.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    std::vector<double> shownMs;
    std::vector<long> peakKb;
    // One run more than asked: the first only warms the file cache.
    for (int run = 0; run <= runs; ++run) {
        XClient x;
        if (!x.Open(server.DisplayName())) {
            std::fprintf(stderr, "cannot connect to %s\n", server.DisplayName().c_str());
            return 1;
        }
        ChildOptions options;
        options.program = tool;
        options.argv = {tool};
        options.set = {"DISPLAY=" + server.DisplayName(), "QT_QPA_PLATFORM=xcb"};
        options.stdoutPath = "/dev/null";
        options.stderrPath = "/dev/null";

        const auto start = std::chrono::steady_clock::now();
        // Ends the tool on every way out of this run.
        ChildProcess process(options);
        if (!process.started()) {
            std::fprintf(stderr, "cannot start %s\n", tool.c_str());
            return 1;
        }
        const unsigned long window = x.WaitForMappedWindow(kCaption, kTimeoutMs);
        const auto shown = std::chrono::steady_clock::now();
        if (window == 0 || !x.RequestClose(window)) {
            std::fprintf(stderr, "the window did not appear\n");
            return 1;
        }
        const ChildExit result = process.Wait(kTimeoutMs);
        if (!result.exited || !WIFEXITED(result.status) || WEXITSTATUS(result.status) != 0) {
            std::fprintf(stderr, "the tool did not end cleanly\n");
            return 1;
        }
        const double ms = std::chrono::duration<double, std::milli>(shown - start).count();
        if (run == 0) {
            std::printf("warm-up   window shown %7.1f ms   peak %6.1f MiB\n", ms,
                        result.usage.ru_maxrss / 1024.0);
            continue;
        }
        shownMs.push_back(ms);
        peakKb.push_back(result.usage.ru_maxrss);
        std::printf("run %2d    window shown %7.1f ms   peak %6.1f MiB\n", run, ms,
                    result.usage.ru_maxrss / 1024.0);
    }

    std::printf(
        "median of %d runs: window shown %.1f ms (min %.1f, max %.1f), peak memory %.1f MiB\n",
        runs, Median(shownMs), *std::min_element(shownMs.begin(), shownMs.end()),
        *std::max_element(shownMs.begin(), shownMs.end()), Median(peakKb) / 1024.0);
    return 0;
}
