# Kestrelink: the front door.
#   make test   install what is missing, build everything, run every test (ctest)
#   make run    build, then the stand-in host under Wine with a demo telnet server and serial
#               device (headless without $DISPLAY: pictures and a summary in build/demo)
#   make dist   the plugin package for the installer: build/dist/kestrelink-VERSION.zip
#   make bench  benchmarks: the pure core (native) and the TCP backend (under Wine)
#   make screens  render the windows under Wine into $(BUILD)/screens/*.png (96 and 144 DPI)
#   make fuzz   libFuzzer targets under ASan/UBSan, FUZZ_SECONDS each (default 60)
SHELL := /bin/bash
.ONESHELL:
.SHELLFLAGS := -euo pipefail -c

JOBS ?= $(shell nproc)
# Build root; give each checkout user its own (make test BUILD=build-mine).
BUILD ?= build
FUZZ_SECONDS ?= 60
GEN := -G Ninja

.PHONY: all setup build native win64 win32 test run dist bench fuzz screens clean

all: build

setup:
	@tools/setup.sh

native: setup
	cmake -S . -B $(BUILD)/native $(GEN) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD)/native -j $(JOBS)

win64: setup
	cmake -S . -B $(BUILD)/win64 $(GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
	cmake --build $(BUILD)/win64 -j $(JOBS)

win32: setup
	cmake -S . -B $(BUILD)/win32 $(GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	cmake --build $(BUILD)/win32 -j $(JOBS)

build: native win64 win32
	printf 'subdirs("native" "win64" "win32")\n' > $(BUILD)/CTestTestfile.cmake

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

run: win64
	tools/run-host.sh $(BUILD)/win64

dist: win64 win32
	tools/dist.sh $(BUILD)/win64 $(BUILD)/win32 $(BUILD)/dist

bench: native win64
	tools/run-bench.sh $(BUILD)/native

screens: win64
	tools/screens.sh $(BUILD)/win64 $(BUILD)/screens

fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz $(GEN) -DKL_FUZZ=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD)/fuzz -j $(JOBS)
	tools/run-fuzz.sh $(BUILD)/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
