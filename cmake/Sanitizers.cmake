# The suite's second build: every target with AddressSanitizer and
# UndefinedBehaviorSanitizer, stopping at the first report. The fuzz targets
# need the same instrumentation, so VELQUINT_FUZZ turns it on too.
if(VELQUINT_SANITIZE OR VELQUINT_FUZZ)
  set(VELQUINT_SANITIZER_FLAGS
      -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${VELQUINT_SANITIZER_FLAGS})
  add_link_options(${VELQUINT_SANITIZER_FLAGS})
endif()

if(VELQUINT_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "VELQUINT_FUZZ needs clang (libFuzzer): configure with "
                      "-DCMAKE_CXX_COMPILER=clang++")
endif()
