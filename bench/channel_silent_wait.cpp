// CPU time and wake-ups of the channel while one Set ID waits the full 3 s
// for a device on 127.0.0.1 that accepts the connection and never answers.
// The channel waits without the window's hook here (poll on the socket); the
// window's own wait is measured with the tool.
#include <sys/resource.h>

#include <cstdio>
#include <cstring>

#include "channel/COM_Class.h"
#include "channel/Tick.h"
#include "idassign/DeviceId.h"
#include "tests/support/TcpListener.h"

namespace {
constexpr double kMicrosecondsPerMs = 1000.0;

double CpuMs(const rusage& usage) {
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * kMicrosecondsPerMs +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / kMicrosecondsPerMs;
}
}  // namespace

int main() {
    // Accepts the connection in the kernel's queue and never answers.
    const TcpListener device(1);
    if (!device.ok()) {
        std::perror("listener");
        return 1;
    }

    COM_Class channel;
    channel.Kind = TransportKind::Tcp;
    std::strcpy(channel.HostAddress, "127.0.0.1");
    channel.HostPort = device.Port();
    if (channel.Open(kDeviceIdReplyLimitMs) != 0) {
        std::fprintf(stderr, "open failed\n");
        return 1;
    }

    const uint8_t id = 5;
    rusage before{};
    rusage after{};
    getrusage(RUSAGE_SELF, &before);
    const uint64_t start = TickMs();
    const int result = TransactDeviceId(channel, id, nullptr, kDeviceIdReplyLimitMs);
    const uint64_t elapsed = TickMs() - start;
    getrusage(RUSAGE_SELF, &after);
    channel.Close();

    const double cpuMs = CpuMs(after) - CpuMs(before);
    const long wakeUps = (after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw);
    std::printf("result %d after %llu ms\n", result, static_cast<unsigned long long>(elapsed));
    std::printf("cpu %.3f ms (%.4f %% of one core)\n", cpuMs, 100.0 * cpuMs / elapsed);
    std::printf("context switches %ld (%.2f per second)\n", wakeUps,
                wakeUps * kMicrosecondsPerMs / elapsed);
    return 0;
}
