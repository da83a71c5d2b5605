#!/usr/bin/env bash
# Fetches the sample photo of `kelmo demo` and of the tool's tests: the
# public-domain portrait of astronaut Eileen Collins (NASA) that Debian's
# python3-skimage package ships as skimage/data/astronaut.png.  The package is
# downloaded with `apt-get download` (no root needed, nothing installed),
# unpacked with `dpkg -x` into a temporary folder, and only that one file is
# kept.  It is never committed to the repository.
#
#   bash scripts/fetch-sample-photo.sh DEST_DIR     (default: build/sample)
#
# Does nothing when DEST_DIR/astronaut.png exists already.
set -euo pipefail

dest_dir="${1:-build/sample}"
target="$dest_dir/astronaut.png"
if [ -s "$target" ]; then
  exit 0
fi

mkdir -p "$dest_dir"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "fetch-sample-photo: downloading python3-skimage for its astronaut.png"
if ! (cd "$work" && apt-get download -qq python3-skimage >/dev/null 2>"$work/apt.log"); then
  # A machine whose package lists were never fetched: tell the user what to do.
  cat "$work/apt.log" >&2 || true
  echo "fetch-sample-photo: apt-get download python3-skimage failed;" >&2
  echo "fetch-sample-photo: run 'apt-get update' as root, then try again" >&2
  exit 1
fi
dpkg -x "$work"/python3-skimage_*.deb "$work/unpacked"
photo="$(find "$work/unpacked" -path '*/skimage/data/astronaut.png' -print -quit)"
if [ -z "$photo" ]; then
  echo "fetch-sample-photo: the package holds no skimage/data/astronaut.png" >&2
  exit 1
fi
# Copied under a temporary name and renamed: an interrupted fetch leaves no
# half-written photo that would count as present next time.
cp "$photo" "$target.part"
mv "$target.part" "$target"
echo "fetch-sample-photo: $target"
