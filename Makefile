# The project's commands. `make test` and `make demo` are all the set-up a
# fresh Debian 12 machine needs: they install missing packages first.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

.PHONY: all deps configure build test bench demo install sanitize clean

all: build

# Also fetches the sample photo into $(BUILD)/sample/ (never committed).
deps:
	bash scripts/install-deps.sh $(BUILD)

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Benchmarks: single thread, medians over repetitions.
bench: build
	OMP_NUM_THREADS=1 $(BUILD)/bin/kelmo_bench --benchmark_repetitions=5 \
	  --benchmark_report_aggregates_only=true

# The main job on the sample photo: out/demo/index.html shows every picture.
demo: build
	$(BUILD)/bin/kelmo demo -o out/demo

# Both libraries, headers, the data directory, the kelmo tool, the CMake
# package and kelmo.pc, below $(PREFIX).
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(MAKE) test BUILD=build-sanitize BUILD_TYPE=Debug \
	  CMAKE_FLAGS="-DKELMO_SANITIZE=ON -DKELMO_BUILD_BENCH=OFF"

clean:
	rm -rf build build-sanitize out
