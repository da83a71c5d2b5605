#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and benchmarks with,
# then fetches the sample photo of `kelmo demo` and the tool's tests.
# As root it runs apt-get; otherwise it prints the exact command to run.
#
#   bash scripts/install-deps.sh [--windows | --fuzz] [BUILD_DIR]
#
# BUILD_DIR (default: build) receives sample/astronaut.png; see
# scripts/fetch-sample-photo.sh. --windows adds what the Windows build and
# its tests need (make windows, make test-windows): the mingw-w64 cross
# compilers and Wine. --fuzz adds what `make fuzz` and the soak's memory
# check need: clang with libFuzzer and its OpenMP runtime, and valgrind.
set -euo pipefail

windows=0
fuzz=0
if [ "${1:-}" = "--windows" ]; then
  windows=1
  shift
elif [ "${1:-}" = "--fuzz" ]; then
  fuzz=1
  shift
fi
build_dir="${1:-build}"

packages=(
  build-essential cmake pkg-config
  libpng-dev libjpeg62-turbo-dev
  # The dense solve: LAPACKE with Debian's reference LAPACK and BLAS, linked
  # in statically (their Fortran runtime comes with gfortran).
  liblapacke-dev liblapack-dev libblas-dev gfortran libgomp1
  libgtest-dev libgmock-dev libbenchmark-dev gcovr
  libglu1-mesa-dev libosmesa6-dev
  # The benchmarks' resampling peers: OpenCV's core and imgproc only.
  libopencv-imgproc-dev
  # The kelmo tool's automatic landmarks: dlib's face detector and shape
  # predictor, and its 68-point model in /usr/share/dlib/.
  libdlib-dev libdlib-data
  # The Python package (python/kelmo): its extension module is built against
  # Debian's own Python, and its tests run with that Python.
  pybind11-dev python3-dev python3-numpy python3-pytest
  # The kelmo tool's glTF export.
  libtinygltf-dev
  # The live viewer's browser test (headless, driven by npm's puppeteer-core).
  chromium
)
# npm brings the viewer's three.js, its bundler and the web tests' packages;
# a machine with its own Node.js and npm keeps them.
if ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi
if [ "$windows" -eq 1 ]; then
  packages+=(
    # The POSIX-threads flavour of mingw-w64's GCC: OpenMP's runtime needs it.
    g++-mingw-w64-x86-64-posix gfortran-mingw-w64-x86-64-posix
    ninja-build wine64
  )
fi
if [ "$fuzz" -eq 1 ]; then
  packages+=(clang-14 libfuzzer-14-dev libomp-14-dev valgrind)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -ne 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "install-deps: missing Debian packages: ${missing[*]}" >&2
    echo "install-deps: run as root:  apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi

# The npm packages pinned by package-lock.json (three.js, esbuild,
# gltf-validator, puppeteer-core), into node_modules/ at the top of the
# checkout; `npm ci` runs again only when the lock file has changed.
root="$(cd "$(dirname "$0")/.." && pwd)"
stamp="$root/node_modules/.kelmo-lock-sha256"
lock_sum="$(sha256sum "$root/package-lock.json" | cut -d' ' -f1)"
if [ "$(cat "$stamp" 2>/dev/null)" != "$lock_sum" ]; then
  echo "install-deps: npm ci (package-lock.json)"
  (cd "$root" && npm ci --no-audit --no-fund --loglevel=error)
  echo "$lock_sum" > "$stamp"
fi

# The sample photo needs no root: apt-get download works for any user.
bash "$(dirname "$0")/fetch-sample-photo.sh" "$build_dir/sample"
