# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix:
# the posix thread model, which std::thread and std::mutex need), tests run
# through wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELQUINT_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELQUINT_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELQUINT_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VELQUINT_MINGW}-windres)

# Libraries and headers of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VELQUINT_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime, libgcc and winpthread inside each .exe, so that it needs
# no DLL beyond Windows' own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test programs through wine64 (plain `wine` wants the 32-bit
# part), by way of a check that a wine session of the tests' own is there
# (tests/windows/wine-emulator.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-emulator.sh)
