# Targets behind ./run (which installs make itself on a bare machine): `./run demo`,
# `./run test`. Each target installs what it is missing through scripts/install-deps.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
# Seconds per harness for `make fuzz`; FUZZ_HARNESSES="re config" runs only those.
FUZZ_TIME ?= 60
FUZZ_HARNESSES ?=
# The makes that CMake starts would announce every folder they enter and leave.
MAKEFLAGS += --no-print-directory

.PHONY: all deps build demo test test-fast asan fuzz clean format

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVASKIT_TESTS=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Builds only the host and the converter, quietly (the compiler's output goes to a log that is
# shown when the build fails); the last line printed is the page's path.
demo:
	@scripts/install-deps --build-only
	@mkdir -p $(BUILD)
	@echo "Building vas-kit and vaskit-prosett in $(BUILD)/ ..."
	@{ cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVASKIT_TESTS=OFF && \
	   cmake --build $(BUILD) -j $(JOBS) --target vas-kit vaskit-prosett; } \
	   >$(BUILD)/demo-build.log 2>&1 || { tail -n 40 $(BUILD)/demo-build.log; exit 1; }
	@scripts/demo $(BUILD)/bin

# The whole suite, then the same suite under AddressSanitizer + UndefinedBehaviorSanitizer.
test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) asan

test-fast: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVASKIT_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -LE external -j $(JOBS)

# The libFuzzer harnesses of fuzz/, built with clang in $(FUZZ_BUILD)/ and each run for
# FUZZ_TIME seconds; prints executions and findings per harness. On demand only, never in CI.
fuzz:
	@scripts/install-deps --fuzz
	@CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DVASKIT_TESTS=OFF -DVASKIT_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz-harnesses
	@FUZZ_TIME=$(FUZZ_TIME) scripts/fuzz $(FUZZ_BUILD) $(FUZZ_HARNESSES)

format:
	@git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
