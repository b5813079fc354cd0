# Thin wrapper around CMake: `make`, `make test`, `make demo`,
# `make test-sanitize`, `make fuzz`.
BUILD ?= build
JOBS ?= 2
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
# Anything beyond this many seconds for one input counts as a hang.
FUZZ_TIMEOUT ?= 10
FUZZ_TARGETS = fuzz_point_reader fuzz_las_reader fuzz_dialogue fuzz_gridding fuzz_model_readers
FUZZ_CXX ?= clang++
# Warnings as errors (CI sets WERROR=ON).
WERROR ?= OFF

# A sanitizer report must fail the test that caused it, also when it comes
# from the program run as a child process: the odd exit codes cannot be
# taken for the program's own status 1.
SANITIZER_ENV = ASAN_OPTIONS=exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1 \
                UBSAN_OPTIONS=exitcode=87:print_stacktrace=1:halt_on_error=1

.PHONY: all build test test-long demo bench clean test-sanitize fuzz-build fuzz

all: build

build:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKESTRANOV_WERROR=$(WERROR) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The randomised comparisons fifty times longer than in `make test`.
test-long: build
	@cd $(BUILD) && KESTRANOV_LONG_SWEEP=1 ctest --output-on-failure -j $(JOBS)

demo: build
	@tools/demo.sh $(BUILD)

bench: build
	@bench/run.sh $(BUILD)

# The whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
# GCC leaves float-cast-overflow out of -fsanitize=undefined; the cell
# positions and scaled elevations are such casts, so it is asked for here.
test-sanitize:
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRANOV_SANITIZE=ON -DKESTRANOV_WERROR=$(WERROR) \
	       "-DCMAKE_CXX_FLAGS=-fsanitize=float-cast-overflow" >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	@cd $(SANITIZE_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# libFuzzer targets (clang only), in a build folder of their own.
fuzz-build:
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) \
	       -DKESTRANOV_FUZZ=ON -DKESTRANOV_PREVIEW=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)

# Each target for FUZZ_SECONDS from its seed corpus. New inputs go to a
# scratch corpus in the build folder; the seeds in fuzz/corpus stay as they are.
fuzz: fuzz-build
	@fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TIMEOUT) $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
