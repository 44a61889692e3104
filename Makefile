# Two set-up commands for a fresh Debian 12 machine, as root:
#   make run    install what is missing, build, start the tool
#   make test   install what is missing, build, run the whole suite
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test demo bench bench-startup bench-search bench-setup bench-setid screenshot clean

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

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The tool against simulated devices in a lab of network namespaces, on the
# current display; needs root and a local X display (scripts/demo.sh says why).
demo:
	@./scripts/demo.sh $(BUILD_DIR)

# The figures in the README: start-up time and peak memory of the tool, the
# Search command against many simulated devices, and the time a setup takes
# beyond the device's reply (both in the lab); Set ID's click-to-label time and
# its wait for a silent device (on loopback).
bench: bench-startup bench-search bench-setup bench-setid

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

clean:
	rm -rf $(BUILD_DIR)
