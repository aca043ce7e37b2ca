# Entry points for people and CI. Everything builds out of tree in build/.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build test bench asan clean package package-test

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

CTEST_ARGS ?=
test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300 $(CTEST_ARGS)

# Roamnode end to end on loopback against the C references in bench/reference and iperf3: one
# table on the terminal and in build/bench/results.json (about five minutes). Release build in
# a folder of its own, so the normal build/ is left as it is. BENCH_ARGS="--cases 1,5 --reps 1"
# runs a part.
BENCH_BUILD_DIR ?= build/release
BENCH_TARGETS = roamnode roamnode-hub roamnode-httpd bench_scenario \
	udp-mmsg-sender udp-mmsg-receiver udp-pacer
BENCH_ARGS ?=

bench: deps
	@cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(BENCH_BUILD_DIR) -j $(JOBS) --target $(BENCH_TARGETS) -- --no-print-directory
	@python3 bench/e2e/run.py --build $(BENCH_BUILD_DIR) --out build/bench $(BENCH_ARGS)

# First the endpoint against hostile requests and log files (bench/e2e/hostile.py, under a
# minute), then one endpoint through SOAK_RUNS mixed scenario runs (default 200, about 10
# minutes), checking after each that the result is whole and descriptors, threads and memory
# came back. Release build shared with the bench; not part of `make test`.
SOAK_RUNS ?= 200
.PHONY: soak
soak: deps
	@cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(BENCH_BUILD_DIR) -j $(JOBS) --target roamnode roamnode-hub roamnode-httpd \
		-- --no-print-directory
	@python3 bench/e2e/hostile.py --build $(BENCH_BUILD_DIR) --out build/hostile
	@python3 bench/e2e/soak.py --build $(BENCH_BUILD_DIR) --out build/soak --runs $(SOAK_RUNS)

# The subsystems' micro-benchmarks (Google Benchmark), from the normal build.
.PHONY: microbench
microbench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer; any finding, undefined
# behaviour and leaks included, fails its test. The packaging tests (a Debian root, minutes) check
# the package, not our memory, and stay with `make test`.
asan:
	@$(MAKE) test BUILD_DIR=build-asan CMAKE_FLAGS="-DROAMNODE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug" \
		CTEST_ARGS="-LE packaging"

# The threaded core (the CTest label "threads", see tests/threads.cmake) under ThreadSanitizer.
TSAN_BUILD_DIR ?= build-tsan
TSAN_TARGETS = test_udp test_scenario test_heartbeat test_device test_app
.PHONY: tsan sanitize
tsan: deps
	@cmake -S . -B $(TSAN_BUILD_DIR) -DROAMNODE_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(TSAN_BUILD_DIR) -j $(JOBS) --target $(TSAN_TARGETS) -- --no-print-directory
	@cd $(TSAN_BUILD_DIR) && ctest -L threads --output-on-failure -j $(JOBS) --timeout 600

# Both: the whole suite under ASan/UBSan in build-asan/, the threaded core under TSan.
sanitize: asan tsan

# Every fuzz target in fuzz/ for FUZZ_SECONDS each (clang, libFuzzer, ASan/UBSan, in build-fuzz/);
# fails on any crash, leak, hang or broken property. FUZZ_TARGETS="fuzz_log_file" runs one.
FUZZ_SECONDS ?= 60
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_TARGETS ?= fuzz_heartbeat_frame fuzz_heartbeat_request fuzz_scenario_description \
	fuzz_log_file fuzz_hub_frames fuzz_report_results
.PHONY: fuzz
fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD_DIR) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
		-DROAMNODE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target $(FUZZ_TARGETS) -- --no-print-directory
	@fuzz/run.sh $(FUZZ_BUILD_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The Debian package (build/roamnode_VERSION_ARCH.deb), made by CPack from the install rules.
package: build
	@cd $(BUILD_DIR) && cpack -G DEB

# Installs that package into a fresh Debian root and runs it there (minutes on the first run).
package-test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -L packaging

clean:
	@rm -rf $(BUILD_DIR)

# The window in its four layouts and on each page, as PNG files in $(BUILD_DIR)/screenshots.
.PHONY: screenshots
screenshots:
	@BUILD_DIR=$(BUILD_DIR) ./tools/screenshots/take-screenshots.sh

# One loopback run (HTTP server, hub, headless endpoint): prints the per-flow summary and the
# path of $(BUILD_DIR)/demo/report.html.
.PHONY: demo
demo: build
	@BUILD_DIR=$(BUILD_DIR) ./scripts/demo.sh
