# The two commands of the README:
#   make        installs missing system packages (as root), builds everything and runs the tour
#   make test   builds and runs every test suite through CTest
BUILD_DIR ?= build
BUILD_TYPE ?= Release
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
# Debian packages the build needs (Python 2.7 itself comes from pyenv or the system).
PACKAGES := cmake g++ make pkg-config ninja-build libgtest-dev libbenchmark-dev \
            libxxhash-dev libpugixml-dev libcli11-dev

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
	cmake -S . -B $(BUILD_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD_DIR)

run: build
	$(BUILD_DIR)/run-python examples/tour.py

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j 2

clean:
	rm -rf $(BUILD_DIR)
