# Two set-up commands for a fresh Debian 12 machine, as root:
#   make run    install what is missing, build, start the tool
#   make test   install what is missing, build, run the whole suite
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test demo bench bench-startup screenshot clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
	    echo "velquint-tool needs a display: no DISPLAY or WAYLAND_DISPLAY is set"; exit 1; fi
	@$(BUILD_DIR)/app/velquint-tool

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Start-up time and peak memory of the tool (figures in the README).
bench: bench-startup

bench-startup: build
	@./bench/startup.sh $(BUILD_DIR)

# docs/screenshot.png from the real window under Xvfb.
screenshot: build
	@./scripts/screenshot.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
