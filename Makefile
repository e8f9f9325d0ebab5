# Kestrel: the two commands a newcomer needs are `make run` and `make test`.
# Every target first installs the Debian packages it needs when they are missing.

BUILD_DIR      ?= build
TEST_BUILD_DIR ?= build-test
BENCH_BUILD_DIR ?= build-bench
FUZZ_BUILD_DIR ?= build-fuzz
SAMPLES_DIR    ?= $(BUILD_DIR)/sample-files
FUZZ_SECONDS   ?= 60
JOBS           ?= $(shell nproc)

BUILD_PACKAGES = cmake ninja-build g++ make qt6-base-dev libgl-dev libgtest-dev libgmock-dev \
                 libbenchmark-dev libcli11-dev nlohmann-json3-dev libssl-dev pkgconf \
                 libarchive-dev libmspack-dev libtsk-dev zlib1g-dev libsimdjson-dev \
                 libvmdk-dev libvhdi-dev libbfio-dev p7zip-full liblhasa-dev libdsk4-dev libewf-dev \
                 libucl-dev liblzma-dev
# The tools that make containers at test time and for the fuzz seeds.
CONTAINER_TOOLS = libarchive-tools gcab mtools dosfstools xorriso fdisk e2fsprogs bzip2 xz-utils \
                  ntfs-3g qemu-utils arj nsis msitools arc nomarch unar python3 ewf-tools libdsk-utils
TEST_PACKAGES  = $(BUILD_PACKAGES) clang-format util-linux poppler-utils desktop-file-utils appstream \
                 groff-base parallel $(CONTAINER_TOOLS)
RUN_PACKAGES   = $(BUILD_PACKAGES)
FUZZ_PACKAGES  = $(BUILD_PACKAGES) clang libclang-rt-14-dev $(CONTAINER_TOOLS)

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
endef

.PHONY: all build build-run run test golden bench fuzz format format-check samples clean deps-build deps-test \
        deps-fuzz

all: build

deps-build:
	$(call install_missing,$(BUILD_PACKAGES))

deps-test:
	$(call install_missing,$(TEST_PACKAGES))

deps-fuzz:
	$(call install_missing,$(FUZZ_PACKAGES))

build: deps-build
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Only what `make run` runs: the window, kestrel-scan and the sample writer,
# not the tests.
build-run: deps-build
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS) --target kestrel kestrel-scan make-samples

samples: build-run
	rm -rf $(SAMPLES_DIR)
	$(BUILD_DIR)/samples/make-samples $(SAMPLES_DIR)

# The window opens in the current directory of its process: the samples.
run: samples
	cd $(SAMPLES_DIR) && $(abspath $(BUILD_DIR))/mainwindow/kestrel

test: deps-test format-check
	cmake -S . -B $(TEST_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON
	cmake --build $(TEST_BUILD_DIR) -j $(JOBS)
	cd $(TEST_BUILD_DIR) && ctest --output-on-failure -j $(JOBS)
	@tools/ratio

# The expected output of kestrel-scan over the samples (tests/golden/), written
# anew after a change meant to alter it: read the diff before committing it.
golden: build
	tests/golden/run.sh $(BUILD_DIR)/cli/kestrel-scan $(BUILD_DIR)/samples/make-samples --update
	@git diff --stat -- tests/golden

bench: deps-build
	cmake -S . -B $(BENCH_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_BUILD_BENCH=ON \
	  -DKESTREL_BUILD_TESTS=OFF
	cmake --build $(BENCH_BUILD_DIR) -j $(JOBS)
	$(BENCH_BUILD_DIR)/bench/kestrel-bench
	$(BENCH_BUILD_DIR)/bench/window/window-bench
	$(BENCH_BUILD_DIR)/bench/window/window-bench --lines 18000000

fuzz: deps-fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKESTREL_BUILD_FUZZ=ON -DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_GUI=OFF
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target fuzz-scan fuzz-containers make-samples
	rm -rf $(FUZZ_BUILD_DIR)/seeds && $(FUZZ_BUILD_DIR)/samples/make-samples $(FUZZ_BUILD_DIR)/seeds
	$(FUZZ_BUILD_DIR)/samples/make-samples $(FUZZ_BUILD_DIR)/seeds fuzz/packed
	rm -rf $(FUZZ_BUILD_DIR)/container-seeds
	fuzz/make_container_seeds.sh $(FUZZ_BUILD_DIR)/seeds $(FUZZ_BUILD_DIR)/container-seeds
	mkdir -p fuzz-corpus fuzz-corpus-containers
	$(FUZZ_BUILD_DIR)/fuzz/fuzz-scan -max_total_time=$(FUZZ_SECONDS) -max_len=200000 \
	  -timeout=10 fuzz-corpus $(FUZZ_BUILD_DIR)/seeds
	# libarchive sizes its read-ahead buffer by a header's claim (a cpio name
	# may claim 4 GiB) before it finds the bytes missing; the address space is
	# never touched, so only the resident-memory limit applies.
	LSAN_OPTIONS=suppressions=$(abspath fuzz/containers.supp) \
	  $(FUZZ_BUILD_DIR)/fuzz/fuzz-containers -max_total_time=$(FUZZ_SECONDS) -max_len=1048576 \
	  -timeout=30 -malloc_limit_mb=8192 fuzz-corpus-containers $(FUZZ_BUILD_DIR)/container-seeds

SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

format:
	clang-format -i $(SOURCES)

format-check:
	@clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf $(BUILD_DIR) $(TEST_BUILD_DIR) $(BENCH_BUILD_DIR) $(FUZZ_BUILD_DIR)
