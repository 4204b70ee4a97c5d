# Thin wrapper over CMake. `make run` and `make test` install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps test-deps configure build run test bench demo clean

all: build

deps:
	@bash scripts/install-deps.sh build

test-deps:
	@bash scripts/install-deps.sh test

configure:
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD)

demo: build
	@bash scripts/demo.sh $(BUILD)

test: test-deps configure
	cmake --build $(BUILD) -j $(JOBS)
	bash scripts/run-tests.sh $(BUILD)

bench: build
	bash scripts/run-benchmarks.sh $(BUILD)

clean:
	rm -rf $(BUILD)
