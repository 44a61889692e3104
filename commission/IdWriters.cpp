#include "commission/IdWriters.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "channel/COM_Class.h"
#include "common/ByteOrder.h"
#include "discovery/TextFormats.h"
#include "idassign/DeviceId.h"

IdWriters::IdWriters(size_t most)
    : most_(std::max<size_t>(1, most)), wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

IdWriters::~IdWriters() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    queued_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
    if (wake_ >= 0) {
        close(wake_);
    }
}

void IdWriters::Submit(const IdWriteJob& job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(job);
        // A worker more only while every one is busy and the bound allows.
        if (idle_ < jobs_.size() && workers_.size() < most_) {
            workers_.emplace_back([this] { Work(); });
        }
    }
    queued_.notify_one();
}

std::vector<IdWriteDone> IdWriters::Collect() {
    uint64_t count = 0;
    if (read(wake_, &count, sizeof count) < 0) {
        // Nothing signalled: nothing to collect.
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<IdWriteDone> finished;
    finished.swap(done_);
    return finished;
}

void IdWriters::Work() {
    COM_Class channel;
    channel.Kind = TransportKind::Tcp;
    for (;;) {
        IdWriteJob job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ++idle_;
            queued_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            --idle_;
            if (stopping_) {
                return;
            }
            job = jobs_.front();
            jobs_.pop_front();
        }
        uint8_t octets[4];
        WriteBigEndian32(octets, job.ip);
        char address[kIpTextSize];
        FormatIpAddress(octets, address);
        CopyAddressText(channel.HostAddress, address);
        channel.HostPort = job.port;
        channel.ReplyLength = 0;
        const DeviceIdOutcome outcome = WriteDeviceId(channel, job.id, job.connectLimitMs);

        IdWriteDone done;
        done.task = job.task;
        done.result = outcome.openResult < 0 ? outcome.openResult : outcome.result;
        done.detail = outcome.detail;
        if (outcome.Written() && outcome.result >= 1) {
            done.readBack = channel.ReplyData[0];
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_.push_back(done);
        }
        const uint64_t one = 1;
        if (write(wake_, &one, sizeof one) < 0) {
            // The counter is full only with 2^64 - 2 unread wake-ups.
        }
    }
}
