# The two set-up commands are `make run` and `make test`; both install what is missing first.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
GEN := -G Ninja
RELEASE := build/release
ASAN := build/asan
TSAN := build/tsan
FUZZ := build/fuzz

.PHONY: all deps build run test test-release test-asan test-tsan bench fuzz clean

all: build

deps:
	@scripts/install-deps

$(RELEASE)/build.ninja:
	cmake -S . -B $(RELEASE) $(GEN) -DCMAKE_BUILD_TYPE=Release

build: deps $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)

run: build
	@scripts/run-remote $(RELEASE)/apps/remote/remote

test: deps
	@scripts/run-tests

test-release: deps
	@scripts/run-tests release

test-asan: deps
	@scripts/run-tests asan

test-tsan: deps
	@scripts/run-tests tsan

bench: build
	@scripts/run-benchmarks $(RELEASE)

fuzz:
	@scripts/install-deps fuzz
	@scripts/run-fuzzers $(FUZZ)

clean:
	rm -rf build
