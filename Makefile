# Two set-up commands for a fresh Debian 12 machine, as root:
#   make run    install what is missing, build, start the tool
#   make test   install what is missing, build, run the whole suite
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
# The second build: clang with AddressSanitizer and UndefinedBehaviorSanitizer,
# plus the fuzz targets. No benchmarks there: sanitizers spoil their figures.
ASAN_DIR ?= build-asan
# The Release build that the Debian packages are made from: installed under
# /usr, with Debian's hardening flags, no tests or benchmarks.
PACKAGE_DIR ?= build-package
FUZZ_SECONDS ?= 600
SOAK_SECONDS ?= 600
# Every program the sanitizer build runs, and every child it starts, stops at
# the first report and fails its test.
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp

.PHONY: all deps configure build run test demo bench bench-code bench-startup bench-search bench-setup bench-setid screenshot clean \
	configure-asan build-asan test-plain test-asan fuzz soak
.PHONY: test-dissector package check-packages

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Without a display the tool cannot show its window: say so in one line,
# before anything is installed or built.
run:
	$(if $(DISPLAY)$(WAYLAND_DISPLAY)$(QT_QPA_PLATFORM),,$(error velquint-tool needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set))
	@$(MAKE) --no-print-directory build
	@$(BUILD_DIR)/app/velquint-tool

# The whole suite: the plain build, then the sanitizer build (which also
# smoke-runs each fuzz target for 30 s).
test: test-plain
	@$(MAKE) --no-print-directory test-asan

test-plain: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

configure-asan: deps
	@cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
		-DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DVELQUINT_SANITIZE=ON -DVELQUINT_FUZZ=ON \
		-DVELQUINT_BUILD_BENCH=OFF >/dev/null

build-asan: configure-asan
	@cmake --build $(ASAN_DIR) -j $(JOBS)

test-asan: build-asan
	@$(SANITIZER_ENV) ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

# Searches, setups and Set IDs against misbehaving simulated devices for
# SOAK_SECONDS (default 600), in a lab of network namespaces (needs root).
soak: build
	@VELQUINT_SIM=$(BUILD_DIR)/sim/velquint-sim ./tests/lab/lab.sh --devices 2 -- \
		$(BUILD_DIR)/tests/soak/velquint_soak --seconds $(SOAK_SECONDS)

# Each fuzz target for FUZZ_SECONDS (default 600), one after the other.
fuzz: build-asan
	@$(SANITIZER_ENV) ./tests/fuzz/fuzz-all.sh $(ASAN_DIR) $(FUZZ_SECONDS)

# The tool against simulated devices in a lab of network namespaces, on the
# current display; needs root and a local X display (scripts/demo.sh says why).
demo:
	@./scripts/demo.sh $(BUILD_DIR)

# The figures in the README: start-up time and peak memory of the tool, the
# Search command against many simulated devices, and the time a setup takes
# beyond the device's reply (both in the lab); Set ID's click-to-label time and
# its wait for a silent device (on loopback).
bench: bench-code bench-startup bench-search bench-setup bench-setid

# The Google Benchmark executables: sort, frame build and parse, silent wait.
bench-code: build
	@$(BUILD_DIR)/bench/velquint_bench_sort_device_table
	@$(BUILD_DIR)/bench/velquint_bench_channel_frames
	@$(BUILD_DIR)/bench/velquint_bench_channel_silent_wait

bench-startup: build
	@./bench/startup.sh $(BUILD_DIR)

bench-search: build
	@./bench/search.sh $(BUILD_DIR)

bench-setup: build
	@./bench/setup_click.sh $(BUILD_DIR)

bench-setid: build
	@./bench/setid.sh $(BUILD_DIR)

# docs/screenshot.png from the real window under Xvfb, after a search in the
# lab against velquint-sim (needs root).
screenshot: build
	@./scripts/screenshot.sh $(BUILD_DIR)

# The Wireshark plugin (wireshark/velquint.lua) under tshark: captures made
# from exact bytes, and traffic recorded in the lab (needs root). Installs
# tshark first (install-deps.sh --check); a configure after that finds it.
test-dissector:
	@./scripts/install-deps.sh --check
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target velquint_wireshark_checks
	@ctest --test-dir $(BUILD_DIR) -L wireshark --output-on-failure -j $(JOBS)

# The Debian packages, in $(PACKAGE_DIR): velquint-tool, velquint and
# velquint-sim (packaging/CMakeLists.txt). Built with every hardening flag of
# dpkg-buildflags, and stripped as dh_strip would (packaging/strip.sh).
PACKAGE_FLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
package: deps
	@cmake -S . -B $(PACKAGE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
		-DCMAKE_CXX_FLAGS="$$($(PACKAGE_FLAGS) CXXFLAGS) $$($(PACKAGE_FLAGS) CPPFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$$($(PACKAGE_FLAGS) LDFLAGS)" \
		-DCMAKE_STRIP=$(CURDIR)/packaging/strip.sh \
		-DVELQUINT_BUILD_TESTS=OFF -DVELQUINT_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(PACKAGE_DIR) -j $(JOBS)
	@rm -f $(PACKAGE_DIR)/*.deb
	@cd $(PACKAGE_DIR) && { cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; exit 1; }; }
	@ls $(PACKAGE_DIR)/*.deb

# The packages, built and checked (tests/packages/check-packages.sh): lintian,
# the desktop entry's and metainfo's validators, the manual pages and the bash
# completion against --help; and as root the install test, which installs
# them with apt, runs them (velquint as an unprivileged user in a lab, the
# window offscreen, the Wireshark plugin's tests beside the installed copy)
# and purges them again. Installs the check tools first (install-deps.sh
# --check); builds what the install test needs of the test build.
check-packages:
	@./scripts/install-deps.sh --check
	@$(MAKE) --no-print-directory package
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target velquint_close_windows velquint_wireshark_checks
	@./tests/packages/check-packages.sh $(PACKAGE_DIR) $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(PACKAGE_DIR)
