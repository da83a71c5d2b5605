# The project's commands. `make test` and `make demo` are all the set-up a
# fresh Debian 12 machine needs: they install missing packages first.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

.PHONY: all deps configure build test bench demo install sanitize coverage mutants clean

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

# Line and branch coverage of the libraries and of the tools, from one run of
# the suite in its own instrumented build.
COVERAGE_FILTERS = frame/ model/ fitting/ render/ deform/ warp/ tavoimage/
coverage:
	$(MAKE) build BUILD=build-coverage BUILD_TYPE=Debug \
	  CMAKE_FLAGS="-DKELMO_COVERAGE=ON -DKELMO_BUILD_BENCH=OFF"
	find build-coverage -name '*.gcda' -delete
	cd build-coverage && ctest -j $(JOBS) --output-on-failure
	@echo "== libraries ($(COVERAGE_FILTERS))"
	@gcovr -r . --object-directory build-coverage $(foreach f,$(COVERAGE_FILTERS),-f '$(f)') \
	  --exclude-throw-branches --exclude-unreachable-branches --print-summary -o build-coverage/libraries.txt
	@echo "== tools/"
	@gcovr -r . --object-directory build-coverage -f 'tools/' \
	  --exclude-throw-branches --exclude-unreachable-branches --print-summary -o build-coverage/tools.txt
	@echo "per-file tables: build-coverage/libraries.txt, build-coverage/tools.txt"

# Plants each deliberate fault of tests/mutants/*.tsv and reports
# whether the suite catches it (scripts/mutants.py --help).
mutants: deps
	python3 scripts/mutants.py

clean:
	rm -rf build build-sanitize build-coverage build-mutants out
