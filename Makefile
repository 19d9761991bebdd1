# Quillon: the README's commands. Every target installs missing Debian packages first.
JOBS ?= $(shell nproc)
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all deps configure build test sanitize asan tsan bench run screenshots soak spectrum-soak live-soak close-soak validate validate-corrections validate-live drift clean package package-test sky-validate

all: build

deps:
	@bash scripts/install-deps.sh

# CMake runs only for a build folder without a configuration; after that Ninja re-runs it
# by itself when a CMakeLists.txt changes.
configure: deps
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# AddressSanitizer + UBSan in one build, ThreadSanitizer in a second.
sanitize: asan tsan

asan: deps
	@[ -f build-asan/build.ninja ] || cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=address
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

tsan: deps
	@[ -f build-tsan/build.ninja ] || cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/scripts/tsan.supp" \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

bench: deps
	@[ -f build-release/build.ninja ] || cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_BUILD_TESTS=OFF
	cmake --build build-release -j $(JOBS)
	@for b in build-release/benchmarks/*/bench_*; do \
	  [ -x "$$b" ] || continue; echo "== $$b"; "$$b" || exit 1; done

# Builds and starts the window program. Without a display it says so (try xvfb-run -a make run).
run: build
	$(BUILD)/src/app/quillon

# Screenshots of the pages for the README, under a virtual X display.
screenshots: build
	bash scripts/screenshots.sh $(BUILD)

# The uncertainties against the virtual bench's truth (not part of make test): coverage of
# the 95% intervals over 400 measurements, and averaging to a precision against the
# radiometer bound.
validate: configure
	cmake --build $(BUILD) --target quillon-cli -j $(JOBS)
	python3 scripts/validate.py $(BUILD)

# The correction chain on the bench: a DUT between two losses and a double-sideband
# converter, 200 series each with the corrections entered (about 20 s).
validate-corrections: configure
	cmake --build $(BUILD) --target quillon-cli -j $(JOBS)
	python3 scripts/validate-corrections.py $(BUILD)

# A receiver drifting 0.2 dB per minute on the virtual bench (not part of make test): 100
# Measure Device series in the sequential order and 100 in the drift-cancelling order, 32
# blocks of 1 s a reading; the DUT's NF and gain against the truth, and the drift warning.
drift: configure
	cmake --build $(BUILD) --target quillon-cli -j $(JOBS)
	python3 scripts/drift.py $(BUILD) 100 32

# quillon-cli live against the virtual bench's truth (about a minute): the mean DUT noise
# figure over 5 minutes of a receiver drifting 0.2 dB/min, the coverage of the live +- over
# 400 windows of 8 groups, and the update period in real time at 100 ms blocks.
validate-live: configure
	cmake --build $(BUILD) --target quillon-cli -j $(JOBS)
	python3 scripts/validate-live.py $(BUILD)

# G/T from the Sun on the virtual bench's sky mode: 200 measurements against the bench's
# truth (mean within 3 standard errors, 95% intervals covering it 93..97%).
sky-validate: configure
	cmake --build $(BUILD) --target quillon-cli -j $(JOBS)
	python3 scripts/sky-validate.py $(BUILD) 200

# Measure Noise on the virtual bench in real time, 100 ms blocks, logging on:
# reports lost blocks and memory growth. SOAK_SECONDS sets the length.
SOAK_SECONDS ?= 60
soak: build
	bash scripts/soak.sh $(BUILD) $(SOAK_SECONDS)

# Show Spectrum on the virtual bench in real time at 96 kHz, 1024-point blocks, under Xvfb:
# blocks captured, computed, lost (must be 0) and drawn, and the window thread's lateness.
spectrum-soak: build
	bash scripts/spectrum-soak.sh $(BUILD) $(SOAK_SECONDS)

# Live Noise Figure on the virtual bench in real time, 100 ms blocks, under Xvfb: the groups
# shown, blocks lost (must be 0), memory growth once the trend is full, the window thread's
# lateness, and the noise source OFF after the close.
live-soak: build
	bash scripts/live-soak.sh $(BUILD) $(SOAK_SECONDS)

# Closes the window 100 times at random moments on every page under Xvfb, by a close
# request and by destroying the window: each close must end the program within 2 s.
close-soak: build
	bash scripts/close-soak.sh $(BUILD) 100

clean:
	rm -rf build build-asan build-tsan build-release

# The Debian package, build/package/quillon_VERSION_ARCH.deb, from a clean Release build of a
# copy of the tree (dpkg-buildpackage -b -us -uc), then lintian, desktop-file-validate and
# appstreamcli on what it installs.
VERSION := $(shell sed -n 's/^project.Quillon VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
package: deps
	@deb=$$(JOBS=$(JOBS) bash scripts/build-deb.sh $(BUILD)/package | tail -1) && \
	  staged=$(BUILD)/package/quillon-$(VERSION)/debian/quillon/usr/share && \
	  echo "== $$deb" && dpkg-deb -I "$$deb" | sed -n '/Package:/,$$p' && \
	  echo "== lintian" && lintian --tag-display-limit 0 "$$deb" && \
	  echo "== desktop-file-validate" && desktop-file-validate $$staged/applications/quillon.desktop && \
	  echo "== appstreamcli validate --no-net" && \
	  appstreamcli validate --no-net $$staged/metainfo/org.tremont.quillon.metainfo.xml && \
	  echo "package: $$deb"

# Root only: installs the package into a fresh minimal Debian 12 root (debootstrap from this
# machine's apt mirror), runs quillon-cli measure and bench, opens and closes the window under
# xvfb-run, shows man quillon-cli, removes the package and compares the file lists.
package-test: package
	bash scripts/package-test.sh $(BUILD)/package/quillon_$(VERSION)_$$(dpkg --print-architecture).deb

# libFuzzer run of the ENR calibration file reader, clang only, in its own build folder.
# One process on one core; new inputs go to build-fuzz/corpus, fuzz/corpus holds the seeds.
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz: deps
	@[ -f build-fuzz/build.ninja ] || CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja
	cmake --build build-fuzz -j $(JOBS)
	mkdir -p build-fuzz/corpus
	build-fuzz/enr_fuzzer build-fuzz/corpus fuzz/corpus -max_len=8192 \
	  -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1
