# The two set-up commands: `make run` and `make test`. Both install what is
# missing first, so they work on a fresh Debian machine.
BUILD_TYPE ?= RelWithDebInfo
RELEASE_DIR := build/release
ASAN_DIR := build/asan

.PHONY: deps build build-asan test test-release test-asan test-tsan run screenshot bench soak fuzz clean

deps:
	./scripts/install-deps

$(RELEASE_DIR)/build.ninja:
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

$(ASAN_DIR)/build.ninja:
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTROVA_SANITIZE=ON -DKESTROVA_BENCH=OFF

build: deps $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR)

build-asan: deps $(ASAN_DIR)/build.ninja
	cmake --build $(ASAN_DIR)

# Every test, twice: the normal build and the sanitizer build.
test: deps
	./scripts/run-tests

test-release: build
	./scripts/run-tests release

test-asan: build-asan
	./scripts/run-tests asan

# The tests that run our code on many threads, built with ThreadSanitizer;
# only their targets are built. A race report fails.
test-tsan: deps
	./scripts/run-tsan

run: build
	./scripts/run-demo $(RELEASE_DIR)

# docs/screenshot.png: the demo page with four cameras playing.
screenshot: deps $(RELEASE_DIR)/build.ninja
	./scripts/screenshot $(RELEASE_DIR)

bench: build
	./scripts/run-bench $(RELEASE_DIR)

# Ten minutes (KESTROVA_SOAK_SECONDS) of four devices with sixteen live
# streams each and create/destroy churn; fails on growth of memory, threads
# or descriptors. Not part of `make test`.
soak: deps $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) --target soak_bench
	$(RELEASE_DIR)/bench/soak_bench

# Every libFuzzer target (or those named in FUZZ_TARGETS) to ten million
# executions, with a table of executions, seconds and coverage. Not part of
# `make test`.
fuzz: deps
	./scripts/run-fuzz --runs 10000000 $(FUZZ_TARGETS)

clean:
	rm -rf build
