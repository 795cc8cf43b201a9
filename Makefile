# The two commands of the README: `make run` and `make test`. Both install whatever
# Debian packages are missing first (tools/setup.sh), then build in build/.
BUILD ?= build
# `make check`: the same suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PHOTO ?=
# Where `make install` puts Velluma; DESTDIR (for packagers) goes in front of it.
PREFIX ?= /usr/local
# ccache (when installed) shares compiled files between checkouts of this tree.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1

.PHONY: all setup configure build test check test-asan run install bench clean format

all: build

setup:
	@bash tools/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUMA_WERROR=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# One build and the whole suite; the sanitizer pass is `make check`.
test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

check: test-asan

# A second build of its own, so it takes as long again as `make test`. The source checks
# (format, include direction, headers) say their word in `make test`; the sanitizer build
# runs what executes code. The options that make a finding fatal are set per test
# (tests/CMakeLists.txt).
test-asan: setup
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUMA_WERROR=ON \
	  -DVELLUMA_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) \
	  -E '^(format_check|include_direction|headers_compile)$$'

run: build
	@$(BUILD)/src/app/velluma $(PHOTO)

# The prefix is built into the program (where its resources are) and into the manual page of
# velluma-frame (where the frames are), so the build is configured with it first.
install: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUMA_WERROR=ON \
	  -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@cmake --install $(BUILD)

bench: build
	@bash bench/run

clean:
	@rm -rf $(BUILD) $(ASAN_BUILD)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i
