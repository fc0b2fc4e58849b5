# Entry points for a fresh Debian 12 machine:
#   make run      install what is missing, build kivrun and the command, run it on the simulated NIC
#   make test     install what is missing, build everything, run every test
#   make bench    install what is missing, build, run the stand-in's benchmarks
#   make install  build and install the kivos development kit into PREFIX (default /usr/local)
#   make coverage run the guest test programs under kivrun --coverage, report the library's lines (HTML)
#   make sanitize build the host programs with ASan and UBSan (in SANITIZE_DIR), run every test
#   make fuzz     build the fuzz targets with clang and run each for FUZZ_SECONDS on its corpus
#   make fuzz-example  AFL++ on an example parser under kivrun and natively, FUZZ_EXAMPLE_SECONDS per campaign
#   make fidelity compare COUNT random instruction sequences (SEED) on this CPU and on kivrun's
#   make format   lay out the C and C++ files as .clang-format says
#   make format-check  fail, naming them, when files are not laid out so
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
# The build type of the host programs; empty keeps the build tree's (RelWithDebInfo at first).
BUILD_TYPE ?=

# What building and running kivrun and the command needs (make run), then
# what the tests and benchmarks add (Debian's i386 C library for the
# differential tester's native harness).
RUN_PACKAGES := cmake make g++ gcc-i686-linux-gnu g++-i686-linux-gnu binutils-i686-linux-gnu \
                ccache binutils libfmt-dev libcapstone-dev pkg-config \
                libdw-dev libelf-dev zlib1g-dev liblzma-dev libbz2-dev
# libc6-dev-i386-cross: native static i686 twins (the C++ kit tests, the
# differential tester and the programs compared with this CPU).
# clang-format-14: make format and format-check.
FORMAT_PACKAGES := clang-format-14
PACKAGES := $(RUN_PACKAGES) libgtest-dev libbenchmark-dev nlohmann-json3-dev gdb python3 lcov libc6-dev-i386-cross \
            $(FORMAT_PACKAGES)
# Whether the build tree holds the tests and benchmarks (make run turns them off).
WITH_TESTS := ON

# Needed by the benchmarks only (qemu-i386, the yardstick for whole runs).
BENCH_PACKAGES := qemu-user
# Only the fuzz targets need these: clang, libFuzzer and clang's sanitizer runtimes.
FUZZ_PACKAGES := clang-14 libclang-rt-14-dev
# Only make fuzz-example needs AFL++ (its afl-clang-fast builds the native side).
AFL_PACKAGES := afl++
FUZZ_EXAMPLE_SECONDS ?= 60

SANITIZE_DIR ?= build-asan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60

KIVRUN := $(BUILD_DIR)/kivrun/kivrun
GUEST := $(BUILD_DIR)/guest
MAKEFLAGS += --no-print-directory
CMAKE_BUILD := cmake --build $(BUILD_DIR) -j $(JOBS)

.PHONY: all deps fuzz-deps configure build run test bench coverage install sanitize fuzz fuzz-example fidelity \
        format format-check clean

all: build

# Installs the Debian packages of the list $(1) that are missing (as root),
# or prints the exact command and stops.
define install_missing
	@missing=$$(for p in $(1); do \
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
endef

# Unicorn 2.1 comes from Debian 13, two packages alone: see the script.
deps:
	$(call install_missing,$(PACKAGES))
	@tools/unicorn-deps.sh

fuzz-deps: deps
	$(call install_missing,$(FUZZ_PACKAGES))

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DKIV_TESTS=$(WITH_TESTS) -DKIV_BENCH=$(WITH_TESTS) \
	  $(if $(BUILD_TYPE),-DCMAKE_BUILD_TYPE=$(BUILD_TYPE)) > /dev/null

build: configure
	$(CMAKE_BUILD)

run: PACKAGES := $(RUN_PACKAGES)
run: WITH_TESTS := OFF
run: configure
	@$(CMAKE_BUILD) --target kivrun guest-command
	$(KIVRUN) $(GUEST)/cmd/nicsounder

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Benchmarks of the stand-in (not part of the tests): nicsounder run in
# process, the cost of one system call, and whole kivrun processes against
# qemu-i386 on the same work. The extra packages reach deps through configure.
bench: PACKAGES += $(BENCH_PACKAGES)
bench: configure
	$(CMAKE_BUILD) --target kivrun_bench kivrun_vs_qemu
	$(BUILD_DIR)/bench/kivrun_bench
	$(BUILD_DIR)/bench/kivrun_vs_qemu

# The differential tester on any number of sequences: a table of the
# differences by instruction class (docs/kernel.md).
SEED ?= 1
COUNT ?= 1000000
fidelity: configure
	@$(CMAKE_BUILD) --target fidelity
	$(BUILD_DIR)/tools/fidelity/fidelity $(BUILD_DIR)/tools/fidelity/fidelity_native --seed $(SEED) --count $(COUNT)

# The runtime library's line coverage by the guest test programs, as an
# lcov record and an HTML report in $(BUILD_DIR)/coverage.
coverage: configure
	$(CMAKE_BUILD) --target coverage
	@echo "Report: $(BUILD_DIR)/coverage/html/index.html"

install: PACKAGES := $(RUN_PACKAGES)
install: WITH_TESTS := OFF
install: configure
	@$(CMAKE_BUILD) --target kit
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The host programs with AddressSanitizer and UndefinedBehaviorSanitizer, in
# a build tree of their own, and the whole suite on them.
sanitize: deps
	@cmake -S . -B $(SANITIZE_DIR) -DKIV_SANITIZE=ON > /dev/null
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

# Each fuzz target of fuzz/targets.txt runs for FUZZ_SECONDS on a copy of
# its seed corpus; the first crash stops it and fails, with the input kept
# in $(FUZZ_DIR)/crashes.
fuzz: fuzz-deps
	@CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_DIR) -DKIV_FUZZ=ON > /dev/null
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_targets
	@mkdir -p $(FUZZ_DIR)/crashes
	@grep '^[a-z]' fuzz/targets.txt | while read -r target seeds; do \
	  corpus=$(FUZZ_DIR)/corpus/$$target; \
	  rm -rf $$corpus && mkdir -p $$corpus && cp fuzz/corpus/$$seeds/* $$corpus/ && \
	  echo "fuzz_$$target: $(FUZZ_SECONDS) s" && \
	  $(FUZZ_DIR)/fuzz/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) -timeout=30 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_DIR)/crashes/$$target- $$corpus < /dev/null 2> $(FUZZ_DIR)/fuzz_$$target.log || \
	    { tail -n 60 $(FUZZ_DIR)/fuzz_$$target.log; exit 1; }; \
	  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' $(FUZZ_DIR)/fuzz_$$target.log; \
	done

# kivrun as AFL++'s target (docs/fuzzing.md): four campaigns on the example
# parser, each FUZZ_EXAMPLE_SECONDS long.
fuzz-example: PACKAGES += $(AFL_PACKAGES)
fuzz-example: configure
	@$(CMAKE_BUILD) --target kivrun guest-tests
	tools/fuzz-example.sh $(BUILD_DIR) $(FUZZ_EXAMPLE_SECONDS)

format:
	$(call install_missing,$(FORMAT_PACKAGES))
	tools/format.sh format

format-check:
	$(call install_missing,$(FORMAT_PACKAGES))
	tools/format.sh check

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR)
