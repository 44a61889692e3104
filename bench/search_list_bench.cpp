// The Search command end to end, inside the lab: velquint-sim plays many
// devices answering at once, the real window (offscreen) runs the search, and
// each run reports how many devices were listed and how long the click took
// beyond the waits the search must make.
//
// The search ends 0.4 s after the last accepted reply, so a click costs at
// least the time until the devices have answered plus 0.4 s. To tell the
// tool's own share, a packet socket on the lab interface timestamps every
// reply as the kernel receives it:
//
//   beyond the waits = (click returned - last reply received) - 0.4 s
//
// which is the time the tool spends on the replies, the sort and building the
// list, and how late its last wait ends. "Click to list - 0.4 s" is printed as
// well; it also holds the simulator's time to send its burst.
//
// Usage (inside the lab's tool namespace; bench/search.sh does it):
//   velquint_bench_search_list <devices> <reply length> <runs>
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/MessageBox.h"
#include "app/Unit1.h"
#include "common/DatagramHeader.h"
#include "discovery/DiscoverDevices.h"
#include "tests/support/LabSupport.h"

namespace {

constexpr char kLabInterface[] = "lab0";
constexpr int kCaptureTimeoutMs = 50;
constexpr double kReplyWaitMs = kReplyWaitMicroseconds / 1000.0;

double WallMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Kernel receive times (wall clock, ms) of the UDP datagrams that reach port
// 3195 from anyone but this namespace's own address.
class ReplyCapture {
public:
    explicit ReplyCapture(const std::string& ownAddress) {
        inet_pton(AF_INET, ownAddress.c_str(), &own_);
        socket_ = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_IP));
        if (socket_ < 0) {
            return;
        }
        const int on = 1;
        setsockopt(socket_, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
        timeval timeout{0, kCaptureTimeoutMs * 1000};
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const int bigBuffer = 8 << 20;
        setsockopt(socket_, SOL_SOCKET, SO_RCVBUFFORCE, &bigBuffer, sizeof bigBuffer);
        sockaddr_ll link{};
        link.sll_family = AF_PACKET;
        link.sll_protocol = htons(ETH_P_IP);
        link.sll_ifindex = static_cast<int>(if_nametoindex(kLabInterface));
        if (bind(socket_, reinterpret_cast<sockaddr*>(&link), sizeof link) != 0) {
            close(socket_);
            socket_ = -1;
        }
    }
    ~ReplyCapture() {
        Stop();
        if (socket_ >= 0) {
            close(socket_);
        }
    }
    bool ok() const { return socket_ >= 0; }

    void Start() {
        times_.clear();
        running_ = true;
        thread_ = std::thread([this] { Run(); });
    }
    std::vector<double> Stop() {
        running_ = false;
        if (thread_.joinable()) {
            thread_.join();
        }
        return times_;
    }

private:
    void Run() {
        while (running_) {
            uint8_t packet[2048];
            char control[CMSG_SPACE(sizeof(timeval))];
            iovec part{packet, sizeof packet};
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t got = recvmsg(socket_, &message, 0);
            if (got < static_cast<ssize_t>(sizeof(iphdr) + sizeof(udphdr))) {
                continue;
            }
            iphdr ip;
            std::memcpy(&ip, packet, sizeof ip);
            const size_t ipLength = static_cast<size_t>(ip.ihl) * 4;
            if (ip.protocol != IPPROTO_UDP || ip.saddr == own_.s_addr ||
                static_cast<size_t>(got) < ipLength + sizeof(udphdr)) {
                continue;
            }
            udphdr udp;
            std::memcpy(&udp, packet + ipLength, sizeof udp);
            if (ntohs(udp.dest) != kDeviceUdpPort) {
                continue;
            }
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMP) {
                    timeval stamp;
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                    times_.push_back(stamp.tv_sec * 1000.0 + stamp.tv_usec / 1000.0);
                }
            }
        }
    }

    int socket_ = -1;
    in_addr own_{};
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::vector<double> times_;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <devices> <reply length> <runs>\n", argv[0]);
        return 2;
    }
    const std::string devices = argv[1];
    const std::string length = argv[2];
    const int runs = std::atoi(argv[3]);

    RequireLabNamespace();
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    MessageBoxRecorder boxes;
    TForm1 form;
    form.show();
    QApplication::processEvents();

    SimProcess sim({"--generate", devices + ",length=" + length});
    if (!sim.ready()) {
        std::fprintf(stderr, "velquint-sim: %s\n", sim.failure().c_str());
        return 1;
    }
    ReplyCapture capture(Lab().toolIp);
    if (!capture.ok()) {
        std::fprintf(stderr, "no packet socket on %s (needs root)\n", kLabInterface);
        return 1;
    }

    std::printf("%s devices, %s-byte replies, %d runs\n", devices.c_str(), length.c_str(), runs);
    std::printf("%4s %7s %8s %12s %14s\n", "run", "listed", "replies", "click-0.4s",
                "beyond waits");
    std::vector<double> totals;
    std::vector<double> beyond;
    int allListed = 0;
    const int expected = std::atoi(devices.c_str());
    for (int run = 1; run <= runs; ++run) {
        capture.Start();
        RequireLabNamespace();
        const double clicked = WallMs();
        form.Button1->click();
        const double listed = WallMs();
        const std::vector<double> replies = capture.Stop();
        QApplication::processEvents();

        const int rows = form.ListView1->topLevelItemCount();
        allListed += rows == expected ? 1 : 0;
        const double total = listed - clicked - kReplyWaitMs;
        const double past =
            replies.empty()
                ? 0
                : listed - *std::max_element(replies.begin(), replies.end()) - kReplyWaitMs;
        totals.push_back(total);
        beyond.push_back(past);
        std::printf("%4d %7d %8zu %9.2f ms %11.2f ms\n", run, rows, replies.size(), total, past);
    }
    std::printf("all %d listed in %d of %d runs\n", expected, allListed, runs);
    std::printf("click to list - 0.4 s: median %.2f ms, max %.2f ms\n", Median(totals),
                *std::max_element(totals.begin(), totals.end()));
    std::printf("beyond the waits:      median %.2f ms, max %.2f ms\n", Median(beyond),
                *std::max_element(beyond.begin(), beyond.end()));
    return 0;
}
