# SPDX-License-Identifier: GPL-3.0-or-later
# Quick start:  make run   (installs what is missing, builds, decodes the simulated DCF77 receiver)
#               make test  (installs, builds, runs every test; window tests under Xvfb)
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build run test unit-test asan-test bench clean format fuzz deb install uninstall

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DVARNOL_WERROR=ON $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/varnol-decode --simulate --station dcf77 --start 2026-12-07T13:05:00Z --minutes 3

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Unit tests only, built with the address and undefined-behaviour sanitizers.
asan-test: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVARNOL_WERROR=ON -DVARNOL_SANITIZE=ON -DVARNOL_GUI=OFF $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

# Each fuzz harness (tests/fuzz) built with clang's libFuzzer and run for FUZZ_SECONDS.
fuzz:
	@bash scripts/install-deps.sh fuzz
	bash tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	bash bench/run.sh $(BUILD)

# From source: the programs, man pages, desktop files and the service under PREFIX (DESTDIR
# honoured); uninstall removes exactly the files install wrote, and the folders it made once
# they are empty.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" bash scripts/install-tree.sh install $(BUILD) "$(PREFIX)"

uninstall:
	bash scripts/install-tree.sh uninstall $(BUILD)

# The Debian package (varnol_*.deb in this folder), built from a clean copy of the checkout.
deb: deps
	@bash scripts/install-deps.sh package
	bash scripts/build-deb.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) build-deb
