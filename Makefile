# Thin wrapper around CMake: `make`, `make test`, `make demo`.
BUILD ?= build
JOBS ?= 2

.PHONY: all build test demo bench clean test-sanitize

all: build

build:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@tools/demo.sh $(BUILD)

bench: build
	@bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) build-sanitize
