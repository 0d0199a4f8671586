# Thin wrapper over CMake. `make test` and `make demo` are the two commands a
# fresh machine needs; both install missing packages first.
JOBS ?= 2
BUILD_TEST := build/asan
BUILD_DEMO := build/release

.PHONY: all deps test demo build clean bench

all: build

deps:
	./scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DEMO) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVLR_BUILD_TESTS=OFF
	cmake --build $(BUILD_DEMO) -j$(JOBS)

test: deps
	cmake -S . -B $(BUILD_TEST) -DCMAKE_BUILD_TYPE=Debug -DVLR_SANITIZE=ON -DVLR_BUILD_BENCH=OFF
	cmake --build $(BUILD_TEST) -j$(JOBS)
	cd $(BUILD_TEST) && ctest -j$(JOBS) --output-on-failure --timeout 300

bench: build
	@for b in $(BUILD_DEMO)/bin/bench_*; do echo "== $$b"; $$b; done

demo: build
	./scripts/demo $(BUILD_DEMO)

clean:
	rm -rf build
