#pragma once

#include <cstddef>

// What the soak watches for leaks: the process's open descriptors (sockets,
// pipes and files alike) and its resident memory.
size_t CountOpenDescriptors();
size_t ResidentBytes();

// True when this build carries AddressSanitizer, whose allocator keeps freed
// memory in quarantine, so resident memory grows without a leak.
bool BuiltWithAddressSanitizer();
