# Set-up commands for a fresh Debian 12 machine, as root:
#   make run     install what is missing, build the tool, start it
#   make test    install what is missing, build, run the everyday suite
#   make check   everything CI proves: the documents' links, make test, the
#                Windows build's tests under wine, the sanitizer build and its
#                suite, the fuzz smoke runs, the soak minute, the Wireshark
#                plugin's tests, the Debian packages and their checks
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
# The everyday build: tool, simulator and tests, no benchmarks. At -O1 it
# costs a sixth less compile time than at -O2 and keeps the warnings that
# need optimisation (maybe-uninitialized). Full debug information, but
# without GCC's variable-tracking assignments: they cost a fifth of the
# compile time, for the places of optimised-out locals in a debugger.
BUILD_OPTIONS = -DCMAKE_BUILD_TYPE=Debug \
	-DCMAKE_CXX_FLAGS_DEBUG="-g -O1 -fno-var-tracking-assignments" \
	-DVELQUINT_BUILD_BENCH=OFF -DVELQUINT_BUILD_DOCS=OFF
# The benchmarks' own build: optimised as a release is, so that their
# figures say what the tool costs.
BENCH_DIR ?= build-bench
BENCH_OPTIONS = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELQUINT_BUILD_BENCH=ON
# The second build: clang with AddressSanitizer and UndefinedBehaviorSanitizer,
# plus the fuzz targets. No benchmarks there: sanitizers spoil their figures.
ASAN_DIR ?= build-asan
ASAN_BUILD_OPTIONS = -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
	-DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DVELQUINT_SANITIZE=ON -DVELQUINT_FUZZ=ON \
	-DVELQUINT_BUILD_BENCH=OFF -DVELQUINT_BUILD_DOCS=OFF
# The cross build for 64-bit Windows (cmake/mingw-w64.cmake): the core, the
# window where a Qt 6 for Windows is found, and the tests that run under
# wine. Without -g: nothing debugs the test programs there, and the debug
# information would make them several times larger.
WINDOWS_DIR ?= build-windows
WINDOWS_OPTIONS = -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
	-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1" -DVELQUINT_BUILD_BENCH=OFF \
	-DVELQUINT_LINUX_SIM=$(CURDIR)/$(BUILD_DIR)/sim/velquint-sim \
	-DVELQUINT_LINUX_CLI=$(CURDIR)/$(BUILD_DIR)/cli/velquint -DVELQUINT_BUILD_CLI=ON
# The Release build that the Debian packages are made from: installed under
# /usr, with Debian's hardening flags, no tests or benchmarks.
PACKAGE_DIR ?= build-package
FUZZ_SECONDS ?= 900
FUZZ_INPUTS ?= 10000000
SOAK_SECONDS ?= 600
# Most tests wait (for a peer, a timer, the lab) far more than they compute,
# so ctest runs four of them at once a core: on two cores the everyday suite
# takes a third less time than with two a core, every test passing alike.
TEST_JOBS ?= $(shell echo $$(( $(JOBS) * 4 )))
# Every program the sanitizer build runs, and every child it starts, stops at
# the first report and fails its test.
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp
# ctest, then one line on the tests that skipped and why.
CTEST = ./tests/run-ctest.sh

# What `make check` runs, in this order; a step that fails ends it. Further
# checks add their target here. The documents' links come first: they take
# no build.
CHECK_STEPS = check-docs test test-windows test-asan fuzz-smoke soak-minute test-dissector \
	check-packages

.PHONY: all deps configure build build-tool build-demo run test check demo bench bench-code \
	bench-startup bench-search bench-setup bench-setid bench-cli bench-station bench-engine bench-windows screenshot clean configure-asan \
	build-asan test-asan fuzz-smoke soak-minute fuzz soak configure-bench build-bench \
	test-dissector package check-packages check-docs windows test-windows windows-package

all: build

deps:
	@./scripts/install-deps.sh

# configure_dir(<folder>, <options>): configures the folder when it has no
# build files yet or was configured with other options; otherwise the build
# itself notices changed CMake files.
define configure_dir
	@if [ ! -f $(1)/build.ninja ] || [ "$$(cat $(1)/.velquint-options 2>/dev/null)" != '$(2)' ]; then \
		cmake -S . -B $(1) -G Ninja $(2) >/dev/null && echo '$(2)' > $(1)/.velquint-options; \
	fi
endef

configure: deps
	$(call configure_dir,$(BUILD_DIR),$(BUILD_OPTIONS))

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Only what `make run` starts, and what `make demo` needs besides: in the same
# build folder, so that a later `make test` builds just the rest.
build-tool: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target velquint-tool
build-demo: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target velquint-tool velquint-sim

# Without a display the tool cannot show its window: say so in one line,
# before anything is installed or built.
run:
	$(if $(DISPLAY)$(WAYLAND_DISPLAY)$(QT_QPA_PLATFORM),,$(error velquint-tool needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set))
	@$(MAKE) --no-print-directory build-tool
	@$(BUILD_DIR)/app/velquint-tool

# The everyday suite: unit, window, loopback, command-line and lab tests (the
# lab where root can make one) on the one build. Not the soak and not the
# Wireshark plugin's tests, which `make check` runs.
test: build
	@$(CTEST) $(BUILD_DIR) --output-on-failure -j $(TEST_JOBS) -LE 'soak|wireshark'

# Everything CI must prove. Here no lab test may skip: run as root.
check: export VELQUINT_LAB_REQUIRED = 1
check:
	@for step in $(CHECK_STEPS); do \
		echo "== make $$step"; \
		$(MAKE) --no-print-directory $$step || exit 1; \
	done

configure-asan: deps
	$(call configure_dir,$(ASAN_DIR),$(ASAN_BUILD_OPTIONS))

build-asan: configure-asan
	@cmake --build $(ASAN_DIR) -j $(JOBS)

# The suite again in the sanitizer build; the fuzz smoke runs and the soak
# minute are steps of their own.
test-asan: build-asan
	@$(SANITIZER_ENV) $(CTEST) $(ASAN_DIR) --output-on-failure -j $(TEST_JOBS) -LE 'fuzz|soak|wireshark'

# Each fuzz target for 30 s from its seeds, one per core.
fuzz-smoke: build-asan
	@$(SANITIZER_ENV) $(CTEST) $(ASAN_DIR) --output-on-failure -j $(JOBS) -L fuzz

# A minute of the fault soak, in the sanitizer build.
soak-minute: build-asan
	@cmake --build $(ASAN_DIR) -j $(JOBS) --target velquint_soak
	@$(SANITIZER_ENV) $(CTEST) $(ASAN_DIR) --output-on-failure -L soak

# Searches, setups and Set IDs against misbehaving simulated devices for
# SOAK_SECONDS (default 600), in a lab of network namespaces (needs root).
soak: build
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target velquint_soak
	@VELQUINT_SIM=$(BUILD_DIR)/sim/velquint-sim ./tests/lab/lab.sh --devices 2 -- \
		$(BUILD_DIR)/tests/soak/velquint_soak --seconds $(SOAK_SECONDS)

# Each fuzz target until it has run FUZZ_INPUTS inputs (default ten
# million) or for FUZZ_SECONDS (default 900), whichever comes first, one
# target on each core: a parser of outside bytes has had a thin look below
# 10^7.
fuzz: build-asan
	@$(SANITIZER_ENV) ./tests/fuzz/fuzz-all.sh $(ASAN_DIR) $(FUZZ_SECONDS) $(FUZZ_INPUTS) $(JOBS)

# The tool against simulated devices in a lab of network namespaces, on the
# current display; needs root and a local X display (scripts/demo.sh says why).
demo:
	@./scripts/demo.sh $(BUILD_DIR)

configure-bench: deps
	$(call configure_dir,$(BENCH_DIR),$(BENCH_OPTIONS))

build-bench: configure-bench
	@cmake --build $(BENCH_DIR) -j $(JOBS)

# The figures in docs/benchmarks.md: start-up time and peak memory of the
# tool, the Search command against many simulated devices, and the time a
# setup takes beyond the device's reply (both in the lab); Set ID's
# click-to-label time and its wait for a silent device (on loopback); the
# command line's search and apply of 255 devices, the commissioning station
# and the watch (in the lab).
bench: bench-code bench-engine bench-startup bench-search bench-setup bench-setid bench-cli bench-station

# The Google Benchmark executables: sort, frame build and parse, silent wait.
bench-code: build-bench
	@$(BENCH_DIR)/bench/velquint_bench_sort_device_table
	@$(BENCH_DIR)/bench/velquint_bench_channel_frames
	@$(BENCH_DIR)/bench/velquint_bench_channel_silent_wait

bench-startup: build-bench
	@./bench/startup.sh $(BENCH_DIR)

bench-search: build-bench
	@./bench/search.sh $(BENCH_DIR)

bench-setup: build-bench
	@./bench/setup_click.sh $(BENCH_DIR)

bench-setid: build-bench
	@./bench/setid.sh $(BENCH_DIR)

bench-cli: build-bench
	@./bench/cli.sh $(BENCH_DIR)

# velquint.exe under wine beside Linux's velquint: apply of 255 devices
# restarting 5 s at 5 % loss, in a lab with its own wine prefix (root).
bench-windows: build-bench windows-package
	@./bench/windows.sh $(BENCH_DIR) $(WINDOWS_PACKAGE_DIR)

# The commissioning engine in virtual time against segments in memory: 4,096
# devices restarting 10 s at 10 % loss, and two of bench-cli's lab cases.
bench-engine: build-bench
	@$(BENCH_DIR)/bench/velquint_bench_engine

# The commissioning station with devices plugged in one by one, and the
# watch's CPU, datagrams and collisions (root, for the lab).
bench-station: build-bench
	@./bench/station.sh $(BENCH_DIR)

# docs/screenshot.png from the real window under Xvfb, after a search in the
# lab against velquint-sim (needs root).
screenshot: build
	@./scripts/screenshot.sh $(BUILD_DIR)

# The Wireshark plugin (wireshark/velquint.lua) under tshark: captures made
# from exact bytes, and traffic recorded in the lab (needs root). Installs
# tshark first (install-deps.sh --check); configuring again after that finds
# it.
test-dissector: configure
	@./scripts/install-deps.sh --check
	@cmake -S . -B $(BUILD_DIR) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target velquint_wireshark_checks
	@$(CTEST) $(BUILD_DIR) -L wireshark --output-on-failure -j $(JOBS)

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
check-packages: configure
	@./scripts/install-deps.sh --check
	@$(MAKE) --no-print-directory package
	@cmake -S . -B $(BUILD_DIR) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target velquint_close_windows velquint_wireshark_checks
	@./tests/packages/check-packages.sh $(PACKAGE_DIR) $(BUILD_DIR)

# Every relative link of README.md and docs/*.md names a file that exists,
# and a heading that its document has (tests/docs/check-links.sh).
check-docs:
	@./tests/docs/check-links.sh

# The Windows build (WINDOWS_DIR, default build-windows).
windows:
	@./scripts/install-deps.sh --windows
	$(call configure_dir,$(WINDOWS_DIR),$(WINDOWS_OPTIONS))
	@cmake --build $(WINDOWS_DIR) -j $(JOBS)

# velquint-1.06-windows-x86_64.zip in $(WINDOWS_PACKAGE_DIR): velquint.exe of a
# Release cross build, its install notes and the manual as text, rendered
# from the Linux build's velquint(1) (packaging/windows).
WINDOWS_PACKAGE_DIR ?= build-windows-package
WINDOWS_PACKAGE_OPTIONS = -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
	-DCMAKE_BUILD_TYPE=Release -DVELQUINT_BUILD_TESTS=OFF -DVELQUINT_BUILD_BENCH=OFF \
	-DVELQUINT_LINUX_MAN_PAGE=$(CURDIR)/$(BUILD_DIR)/docs/man/velquint.1
windows-package: configure
	@./scripts/install-deps.sh --windows
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target velquint_man_pages
	$(call configure_dir,$(WINDOWS_PACKAGE_DIR),$(WINDOWS_PACKAGE_OPTIONS))
	@cmake --build $(WINDOWS_PACKAGE_DIR) -j $(JOBS) --target velquint_windows_package

# Its unit tests under wine, and the channel against the Linux velquint-sim
# over loopback TCP and a pseudo-terminal opened as a COM port; nothing that
# runs here sends on UDP port 3195. One wine prefix for the run
# (tests/windows/wine-tests.sh).
test-windows: windows configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target velquint-sim velquint
	@./tests/windows/wine-tests.sh $(WINDOWS_DIR) --output-on-failure -j $(TEST_JOBS)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(BENCH_DIR) $(PACKAGE_DIR) $(WINDOWS_DIR) $(WINDOWS_PACKAGE_DIR)
