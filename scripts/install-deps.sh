#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and benchmarks with,
# then fetches the sample photo of `kelmo demo` and the tool's tests.
# As root it runs apt-get; otherwise it prints the exact command to run.
#
#   bash scripts/install-deps.sh [--windows] [BUILD_DIR]
#
# BUILD_DIR (default: build) receives sample/astronaut.png; see
# scripts/fetch-sample-photo.sh. --windows adds what the Windows build and
# its tests need (make windows, make test-windows): the mingw-w64 cross
# compilers and Wine.
set -euo pipefail

windows=0
if [ "${1:-}" = "--windows" ]; then
  windows=1
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
  # The kelmo tool's automatic landmarks: dlib's face detector and shape
  # predictor, and its 68-point model in /usr/share/dlib/.
  libdlib-dev libdlib-data
)
if [ "$windows" -eq 1 ]; then
  packages+=(
    # The POSIX-threads flavour of mingw-w64's GCC: OpenMP's runtime needs it.
    g++-mingw-w64-x86-64-posix gfortran-mingw-w64-x86-64-posix
    ninja-build wine64
  )
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

# The sample photo needs no root: apt-get download works for any user.
bash "$(dirname "$0")/fetch-sample-photo.sh" "$build_dir/sample"
