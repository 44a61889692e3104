#include "tests/soak/SoakProbe.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELQUINT_SOAK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VELQUINT_SOAK_ASAN 1
#endif

size_t CountOpenDescriptors() {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) {
        return 0;
    }
    size_t count = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(directory);
    // The directory's own descriptor is not one of the process's.
    return count - 1;
}

size_t ResidentBytes() {
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) {
        return 0;
    }
    unsigned long sizePages = 0;
    unsigned long residentPages = 0;
    const int read = std::fscanf(statm, "%lu %lu", &sizePages, &residentPages);
    std::fclose(statm);
    if (read != 2) {
        return 0;
    }
    return residentPages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

bool BuiltWithAddressSanitizer() {
#ifdef VELQUINT_SOAK_ASAN
    return true;
#else
    return false;
#endif
}
