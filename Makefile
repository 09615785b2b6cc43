# The two commands of the README:
#   make        installs missing system packages (as root), builds everything and runs the tour
#               under every interpreter built
#   make test   builds and runs every test suite through CTest
BUILD_DIR ?= build
BUILD_TYPE ?= Release
# CMake generator of a new build folder; empty: Ninja when `deps` has it installed, else Unix
# Makefiles. It is chosen when configuring, after `deps`, and a folder configured before keeps
# the generator it was made with.
GENERATOR ?=
# Debian packages the build needs: Python 3 with its headers, numpy for the buffer tests. (Python
# 2.7, which Debian 12 does not ship, comes from pyenv where someone installed it.)
PACKAGES := cmake g++ make pkg-config ninja-build libgtest-dev libbenchmark-dev \
            libxxhash-dev libpugixml-dev libcli11-dev python3-dev python3-numpy

.PHONY: all deps configure build run test clean

all: run

deps:
	@if command -v dpkg >/dev/null 2>&1; then \
	  missing=$$(for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	  if [ -n "$$missing" ]; then \
	    if [ "$$(id -u)" = 0 ]; then \
	      apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	    else \
	      echo "Missing packages; run: sudo apt-get install -y" $$missing; exit 1; \
	    fi; \
	  fi; \
	fi

configure: deps
	@if [ -f "$(BUILD_DIR)/CMakeCache.txt" ]; then set -x; \
	  cmake -S . -B "$(BUILD_DIR)" -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS); \
	else \
	  generator="$(GENERATOR)"; \
	  if [ -z "$$generator" ]; then \
	    if command -v ninja >/dev/null 2>&1; then generator=Ninja; else generator="Unix Makefiles"; fi; \
	  fi; set -x; \
	  cmake -S . -B "$(BUILD_DIR)" -G "$$generator" -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS); \
	fi

build: configure
	cmake --build $(BUILD_DIR)

# The tour under every interpreter built: 2.7 (run-python) where it was found, each Python 3.
run: build
	@set -e; for wrapper in $(BUILD_DIR)/run-python $(BUILD_DIR)/run-python3.*; do \
	  if [ -x "$$wrapper" ]; then echo "== $$wrapper examples/tour.py"; "$$wrapper" examples/tour.py; fi; \
	done

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j 2

clean:
	rm -rf $(BUILD_DIR)
