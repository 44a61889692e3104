#include "commission/IdWriters.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "channel/COM_Class.h"
#include "common/ByteOrder.h"
#include "discovery/TextFormats.h"
#include "idassign/DeviceId.h"

// What the workers share with the caller. A worker holds it too, so that an
// abandoned write still has it when it ends.
struct IdWriters::Shared {
    size_t most = 1;
    WakeUp wake;
    std::mutex mutex;
    std::condition_variable queued;
    std::deque<IdWriteJob> jobs;
    std::vector<IdWriteDone> done;
    size_t idle = 0;
    bool stopping = false;
};

IdWriters::IdWriters(size_t most) : shared_(std::make_shared<Shared>()) {
    shared_->most = std::max<size_t>(1, most);
}

IdWriters::~IdWriters() {
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->stopping = true;
        shared_->jobs.clear();
    }
    shared_->queued.notify_all();
    for (std::thread& worker : workers_) {
        if (abandoned_) {
            worker.detach();
        } else {
            worker.join();
        }
    }
}

const WakeUp& IdWriters::Wake() const {
    return shared_->wake;
}

void IdWriters::Abandon() {
    abandoned_ = true;
}

void IdWriters::Submit(const IdWriteJob& job) {
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->jobs.push_back(job);
        // A worker more only while every one is busy and the bound allows.
        if (shared_->idle < shared_->jobs.size() && workers_.size() < shared_->most) {
            workers_.emplace_back(Work, shared_);
        }
    }
    shared_->queued.notify_one();
}

std::vector<IdWriteDone> IdWriters::Collect() {
    shared_->wake.Clear();
    std::lock_guard<std::mutex> lock(shared_->mutex);
    std::vector<IdWriteDone> finished;
    finished.swap(shared_->done);
    return finished;
}

void IdWriters::Work(std::shared_ptr<Shared> shared) {
    COM_Class channel;
    channel.Kind = TransportKind::Tcp;
    for (;;) {
        IdWriteJob job;
        {
            std::unique_lock<std::mutex> lock(shared->mutex);
            ++shared->idle;
            shared->queued.wait(lock,
                                [&shared] { return shared->stopping || !shared->jobs.empty(); });
            --shared->idle;
            if (shared->stopping) {
                return;
            }
            job = shared->jobs.front();
            shared->jobs.pop_front();
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
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (shared->stopping) {
                return;
            }
            shared->done.push_back(done);
        }
        shared->wake.Signal();
    }
}
