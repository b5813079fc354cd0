# Thin wrapper around CMake: `make`, `make test`, `make demo`, `make install`,
# `make uninstall`, `make test-sanitize`, `make test-tsan`, `make fuzz`,
# `make coverage`, `make tidy`.
BUILD ?= build
# Where `make install` puts the programs (bin/), the GDAL module of
# kestranov-grid (lib/kestranov/) and the man pages (share/man/man1/);
# DESTDIR, when given, is put before it, as for packaging.
PREFIX ?= /usr/local
JOBS ?= 2
SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
COVERAGE_BUILD ?= build-coverage
# gcov reads only what gcc's own --coverage writes.
COVERAGE_CXX ?= g++
# The least line coverage of src/ that `make coverage` accepts, in percent.
COVERAGE_FLOOR ?= 95
FUZZ_SECONDS ?= 60
# Anything beyond this many seconds for one input counts as a hang.
FUZZ_TIMEOUT ?= 10
FUZZ_TARGETS = fuzz_point_reader fuzz_las_reader fuzz_laz_reader fuzz_dialogue fuzz_gridding fuzz_model_readers
FUZZ_CXX ?= clang++
# Warnings as errors (CI sets WERROR=ON).
WERROR ?= OFF

# A sanitizer report must fail the test that caused it, also when it comes
# from the program run as a child process: the odd exit codes cannot be
# taken for the program's own status 1.
SANITIZER_ENV = ASAN_OPTIONS=exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1 \
                UBSAN_OPTIONS=exitcode=87:print_stacktrace=1:halt_on_error=1

.PHONY: all build build-tests test test-long demo bench install uninstall clean test-sanitize test-tsan fuzz-build fuzz \
        coverage tidy

all: build

# The programs, their man pages and the cloud generator; no test program.
build:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKESTRANOV_WERROR=$(WERROR) "-DCMAKE_INSTALL_PREFIX=$(PREFIX)" \
	       >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# The test programs, and everything the tests run, before ctest runs them.
test test-long: build-tests
build-tests: build
	@cmake --build $(BUILD) -j $(JOBS) --target tests

test: build
	@status=0; (cd $(BUILD) && ctest --output-on-failure -j $(JOBS)) || status=$$?; \
	    tools/test_skips.sh $(BUILD); exit $$status

# The randomised comparisons fifty times longer than in `make test`.
test-long: build
	@status=0; (cd $(BUILD) && KESTRANOV_LONG_SWEEP=1 ctest --output-on-failure -j $(JOBS)) || status=$$?; \
	    tools/test_skips.sh $(BUILD); exit $$status

demo: build
	@cmake --build $(BUILD) -j $(JOBS) --target demo_tools
	@tools/demo.sh $(BUILD)

bench: build
	@cmake --build $(BUILD) -j $(JOBS) --target kestranov_bench
	@bench/run.sh $(BUILD)

install: build
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD)

# Every file the last `make install` wrote (as listed in $(BUILD)/install_manifest.txt).
uninstall:
	@DESTDIR="$(DESTDIR)" cmake --build $(BUILD) --target uninstall

# The whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
# GCC leaves float-cast-overflow out of -fsanitize=undefined; the cell
# positions and scaled elevations are such casts, so it is asked for here.
test-sanitize:
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRANOV_SANITIZE=ON -DKESTRANOV_WERROR=$(WERROR) \
	       "-DCMAKE_CXX_FLAGS=-fsanitize=float-cast-overflow" >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS) --target tests
	@cd $(SANITIZE_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# The tests that read on several threads, built with ThreadSanitizer in a
# folder of their own: the block pipeline, the part pool and the readers
# behind them. TSAN_TESTS is the ctest filter; a reader that starts threads
# of its own adds its tests there.
TSAN_TESTS ?= Threads\.|PointReader\.|ExtentPass\.|LasReader\.|LazReader\.
TSAN_ENV = TSAN_OPTIONS=exitcode=88:halt_on_error=1:second_deadlock_stack=1
test-tsan:
	@cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRANOV_TSAN=ON -DKESTRANOV_WERROR=$(WERROR) \
	       -DKESTRANOV_PREVIEW=OFF >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target kestranov kestranov_tests
	@cd $(TSAN_BUILD) && $(TSAN_ENV) ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# libFuzzer targets (clang only), in a build folder of their own.
fuzz-build:
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) \
	       -DKESTRANOV_FUZZ=ON -DKESTRANOV_PREVIEW=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)

# Each target for FUZZ_SECONDS from its seed corpus. New inputs go to a
# scratch corpus in the build folder; the seeds in fuzz/corpus stay as they are.
fuzz: fuzz-build
	@fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TIMEOUT) $(FUZZ_TARGETS)

# The suite built with gcc's line coverage in its own folder, run from zero
# counts, then the lines run per folder of src/ and of the companions. -O1
# keeps the tests near their usual speed while leaving lines where they are.
# Three tests run the programs under ulimit -v and -f, or as another user,
# where the coverage runtime itself cannot write its counts at exit (a crash,
# or a message on stderr): they run for the lines they reach, their verdict
# is make test's.
COVERAGE_SKIP = CompleteOrNothing.MemoryLimitsFromStartupToTheWritersLeaveNoTemporaryFile|export.ExportFailures.StatusTheMessageAndNoFile|grid.GridCommand.AFailureIsOneLineAndLeavesNothing
coverage:
	@cmake -S . -B $(COVERAGE_BUILD) -DCMAKE_CXX_COMPILER=$(COVERAGE_CXX) -DCMAKE_BUILD_TYPE=Release \
	       "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" -DKESTRANOV_COVERAGE=ON >/dev/null
	@cmake --build $(COVERAGE_BUILD) -j $(JOBS) --target tests
	@find $(COVERAGE_BUILD) -name '*.gcda' -delete
	@cd $(COVERAGE_BUILD) && ctest --output-on-failure -j $(JOBS) -E '$(COVERAGE_SKIP)' >ctest.log 2>&1 || { cat ctest.log; exit 1; }
	@cd $(COVERAGE_BUILD) && ctest -j $(JOBS) -R '$(COVERAGE_SKIP)' >ctest-limits.log 2>&1 || true
	@tools/coverage_report.py $(COVERAGE_BUILD) --floor=$(COVERAGE_FLOOR)

# clang-tidy with the checks of .clang-tidy over every source the build
# compiles; any finding fails. It needs only the build folder's
# compile_commands.json, so the folder is configured, not built.
tidy:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DKESTRANOV_WERROR=$(WERROR) >/dev/null
	@run-clang-tidy -p $(BUILD) -j $(JOBS) -quiet >$(BUILD)/tidy.log 2>&1 || \
	    { sed 's/\x1b\[[0-9;]*m//g' $(BUILD)/tidy.log | grep -E 'warning:|error:' | sort -u; echo "tidy: findings above (full log: $(BUILD)/tidy.log)"; exit 1; }
	@echo "tidy: no finding in $$(grep -c '"file"' $(BUILD)/compile_commands.json) sources"

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(COVERAGE_BUILD)
