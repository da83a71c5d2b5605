#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and benchmarks with.
# As root it runs apt-get; otherwise it prints the exact command to run.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libpng-dev libjpeg62-turbo-dev
  liblapacke-dev libopenblas-dev libgomp1
  libgtest-dev libgmock-dev libbenchmark-dev
  libglu1-mesa-dev libosmesa6-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

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
