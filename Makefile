# Entry points for a fresh Debian 12 machine:
#   make run      install what is missing, build kivrun and the command, run it on the simulated NIC
#   make test     install what is missing, build everything, run every test
#   make bench    install what is missing, build, run the stand-in's benchmarks
#   make install  build and install the kivos development kit into PREFIX (default /usr/local)
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
# The build type of the host programs; empty keeps the build tree's (RelWithDebInfo at first).
BUILD_TYPE ?=

PACKAGES := cmake make g++ gcc-i686-linux-gnu g++-i686-linux-gnu binutils-i686-linux-gnu \
            libunicorn-dev libgtest-dev ccache libbenchmark-dev binutils libfmt-dev pkg-config gdb

# Needed by the benchmarks only (qemu-i386, the yardstick for whole runs).
BENCH_PACKAGES := qemu-user

KIVRUN := $(BUILD_DIR)/kivrun/kivrun
GUEST := $(BUILD_DIR)/guest
MAKEFLAGS += --no-print-directory
CMAKE_BUILD := cmake --build $(BUILD_DIR) -j $(JOBS)

.PHONY: all deps configure build run test bench install clean

all: build

# Installs the Debian packages that are missing (as root), or prints the
# exact command and stops.
deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:" $$missing; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "Missing packages. Run as root:"; \
	    echo "  apt-get update && apt-get install -y $$missing"; \
	    exit 1; \
	  fi; \
	fi

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(if $(BUILD_TYPE),-DCMAKE_BUILD_TYPE=$(BUILD_TYPE)) > /dev/null

build: configure
	$(CMAKE_BUILD)

run: configure
	@$(CMAKE_BUILD) --target kivrun guest-command
	$(KIVRUN) $(GUEST)/cmd/nicsounder

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Benchmarks of the stand-in (not part of the tests): nicsounder run in
# process, the cost of one system call, and whole kivrun processes against
# qemu-i386 on the same work. The extra packages reach deps through build.
bench: PACKAGES += $(BENCH_PACKAGES)
bench: build
	$(BUILD_DIR)/bench/kivrun_bench
	$(BUILD_DIR)/bench/kivrun_vs_qemu

install: configure
	@$(CMAKE_BUILD) --target kit
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD_DIR)
