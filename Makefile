# The two commands of the README: `make run` and `make test`. Both install whatever
# Debian packages are missing first (tools/setup.sh), then build in build/.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PHOTO ?=
# ccache (when installed) shares compiled files between checkouts of this tree.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1

.PHONY: all setup configure build test run bench clean format

all: build

setup:
	@bash tools/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUMA_WERROR=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@$(BUILD)/src/app/velluma $(PHOTO)

bench: build
	@bash bench/run

clean:
	@rm -rf $(BUILD)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i
