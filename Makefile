# Thin wrapper over CMake. `make test` and `make demo` are the two commands a
# fresh machine needs; both install missing packages first.
JOBS ?= 2
BUILD_TEST := build/asan
BUILD_DEMO := build/release
BUILD_FUZZ := build/fuzz
FUZZ_SECONDS ?= 120
BUILD_PACKAGE := build/package
PREFIX ?= /usr/local
# The build shows its progress and what goes wrong: no configure chatter, no
# "Entering/Leaving directory" line from each of CMake's nested makes.
CMAKE_CONFIGURE := cmake --log-level=WARNING
MAKEFLAGS += --no-print-directory

.PHONY: all deps test demo build clean bench fuzz install package package-check

all: build

deps:
	./scripts/install-deps

build: deps
	$(CMAKE_CONFIGURE) -S . -B $(BUILD_DEMO) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVLR_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(BUILD_DEMO) -j$(JOBS)

# `make install [PREFIX=/usr/local] [DESTDIR=...]`
install: build
	cmake --install $(BUILD_DEMO) --prefix $(PREFIX)

# The Debian package, into build/package.
package: deps
	$(CMAKE_CONFIGURE) -S . -B $(BUILD_PACKAGE) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVLR_BUILD_TESTS=OFF -DVLR_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr
	cmake --build $(BUILD_PACKAGE) -j$(JOBS)
	cd $(BUILD_PACKAGE) && cpack -G DEB

# Installs the package into this machine and removes it again: for
# throw-away machines only (needs root).
package-check: package
	./tests/install/package_test.sh $(BUILD_PACKAGE)/*.deb

test: deps
	$(CMAKE_CONFIGURE) -S . -B $(BUILD_TEST) -DCMAKE_BUILD_TYPE=Debug -DVLR_SANITIZE=ON -DVLR_BUILD_BENCH=OFF
	cmake --build $(BUILD_TEST) -j$(JOBS)
	cd $(BUILD_TEST) && ctest -j$(JOBS) --output-on-failure --timeout 300

# Runs every libFuzzer target of tests/fuzz for FUZZ_SECONDS each (clang).
fuzz:
	./scripts/install-deps --fuzz
	CC=clang CXX=clang++ $(CMAKE_CONFIGURE) -S . -B $(BUILD_FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVLR_FUZZ=ON -DVLR_BUILD_BENCH=OFF
	cmake --build $(BUILD_FUZZ) -j$(JOBS) --target fuzz_targets
	./tests/fuzz/run.sh $(BUILD_FUZZ) $(FUZZ_SECONDS)

# The benchmark programs are left out of `make build`; this builds and runs them.
bench: build
	cmake --build $(BUILD_DEMO) -j$(JOBS) --target benchmarks
	@for b in $(BUILD_DEMO)/bin/bench_*; do echo "== $$b"; $$b; done

demo: build
	./scripts/demo $(BUILD_DEMO)

clean:
	rm -rf build
