#include "platform/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr mode_t kEveryoneReadWrite = 0666;

}  // namespace

ReplaceOutcome ReplaceFileContent(const std::string& path, const std::string& content) {
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = folder + "/." + name + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        return {ReplaceStep::Create, std::strerror(errno)};
    }
    const auto failed = [&](ReplaceStep step) {
        const ReplaceOutcome outcome{step, std::strerror(errno)};
        if (step != ReplaceStep::Rename) {
            close(fd);
        }
        unlink(temporary.c_str());
        return outcome;
    };
    size_t written = 0;
    while (written < content.size()) {
        const ssize_t step = write(fd, content.data() + written, content.size() - written);
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step <= 0) {
            return failed(ReplaceStep::Write);
        }
        written += static_cast<size_t>(step);
    }
    // mkstemp makes the file for its owner alone.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, kEveryoneReadWrite & ~mask);
    if (fsync(fd) != 0) {
        return failed(ReplaceStep::Flush);
    }
    if (close(fd) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
        return failed(ReplaceStep::Rename);
    }
    return {};
}
