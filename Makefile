# The project's commands. `make test` and `make demo` are all the set-up a
# fresh Debian 12 machine needs: they install missing packages first.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

.PHONY: all deps configure build test bench demo install sanitize coverage mutants clean fuzz soak soak-valgrind \
  windows-deps windows test-windows

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

# The soak: SOAK_CYCLES whole sessions (initialise, create, render, morph,
# muscle, copy, free, finalise); fails when resident memory grows by 1 MB or
# a handle is left. soak-valgrind: a few cycles under valgrind's memcheck,
# which must report no error and no definite leak.
SOAK_CYCLES ?= 20000
soak: build
	OMP_NUM_THREADS=1 $(BUILD)/bin/kelmo_soak $(SOAK_CYCLES)

soak-valgrind: build
	bash scripts/install-deps.sh --fuzz $(BUILD)
	OMP_NUM_THREADS=1 valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
	  --show-leak-kinds=definite $(BUILD)/bin/kelmo_soak 3

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

# Every fuzz target (fuzz/) for FUZZ_SECONDS each, built once with clang,
# libFuzzer, ASan and UBSan in $(FUZZ_BUILD)/; prints the executions and the
# coverage gained per target. Crashes are minimised into fuzz/regressions/,
# which the test suite replays (scripts/run-fuzz.sh).
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=
fuzz:
	bash scripts/install-deps.sh --fuzz $(FUZZ_BUILD)
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Fuzz -DCMAKE_C_COMPILER=clang-14 \
	  -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_FLAGS_FUZZ="-O1 -g" -DCMAKE_CXX_FLAGS_FUZZ="-O1 -g" \
	  -DKELMO_FUZZ=ON -DKELMO_BUILD_TESTS=OFF -DKELMO_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target kelmo_fuzz
	bash scripts/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

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

# ---- Windows (docs/windows.md) ----------------------------------------------
# kelmo.dll, tavoimage.dll, kelmo.exe and the C example for x86-64 Windows,
# cross-built with mingw-w64 into $(WINDOWS_BUILD)/, and the zip for hosts.
# The dependencies are built once from Debian's source packages into
# $(WINDOWS_BUILD)/deps/ and kept.
WINDOWS_BUILD ?= build-windows
# Linux's optimisation (-O2, the same code) without debugging information: the
# zip ships stripped modules, and generating it costs a fifth to a third of
# each compile.
WINDOWS_BUILD_FLAGS ?= -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
KELMO_VERSION := $(shell sed -n 's/^project.kelmo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
WINDOWS_ZIP = $(WINDOWS_BUILD)/kelmo-$(KELMO_VERSION)-win64.zip

windows-deps:
	bash scripts/install-deps.sh --windows $(BUILD)
	bash scripts/build-windows-deps.sh $(WINDOWS_BUILD)/deps

windows: windows-deps
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja $(WINDOWS_BUILD_FLAGS) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DKELMO_WINDOWS_DEPS=$(abspath $(WINDOWS_BUILD))/deps/prefix -DKELMO_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	bash scripts/package-windows.sh $(WINDOWS_BUILD) $(WINDOWS_ZIP)

# The test suite's programs under Wine, then the C example end to end and the
# exports, both against the Linux build. Wine's server is started first and
# kept up until a minute after its last program: left to itself it starts with
# the first test and stops three seconds after the last one ends, and a test
# that connects while it shuts down fails with "recvmsg: Connection reset by
# peer" before running at all. (Its status 2 says a server already runs for
# the prefix, which serves as well.)
WINESERVER ?= /usr/lib/wine/wineserver64
test-windows: windows build
	WINEPREFIX=$(abspath $(WINDOWS_BUILD))/wine $(WINESERVER) -p60 || test $$? -eq 2
	cd $(WINDOWS_BUILD) && ctest --output-on-failure -j $(JOBS)
	bash scripts/check-windows.sh $(WINDOWS_BUILD) $(BUILD)

clean:
	rm -rf build build-sanitize build-coverage build-mutants build-windows build-fuzz out
