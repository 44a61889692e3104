#pragma once

// ssize_t, the signed length that a receive returns (-1 for a failure).
// POSIX declares it in sys/types.h; Windows' C runtime declares it with its
// standard headers.
#ifdef _WIN32
#include <cstddef>
#else
#include <sys/types.h>
#endif
