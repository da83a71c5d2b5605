#!/usr/bin/env bash
# Times the kelmo tool as its users run it, this build beside an older one, in
# the same run (the machine's load then weighs on both alike):
#
#   bash scripts/bench-cli.sh [--runs N] OLD_BUILD [NEW_BUILD]
#
# OLD_BUILD and NEW_BUILD (default: build) are build folders holding
# bin/kelmo, e.g. one of an older commit: git worktree add ../kelmo-old OLD;
# make -C ../kelmo-old build. The cases, each run N times (default 5), the two
# builds alternating, medians reported:
#   create-512     kelmo create on the 512 x 512 sample photo (one process)
#   create-12mp    kelmo create on the sample photo scaled to 3464 x 3464, a
#                  JPEG of 12 megapixels as phones take them
#   batch-j1/-j2   kelmo batch of 24 copies of the sample photo, -j 1 and -j 2
#                  (photos per second)
# The environment passes through: OPENBLAS_NUM_THREADS=1 bash scripts/... times
# both builds with a single-threaded BLAS.
# Then the outputs of create-512 are compared: text files byte for byte,
# pictures by their decoded pixels (scripts/compare-images.py).
set -euo pipefail

runs=5
if [ "${1:-}" = "--runs" ]; then
  runs="$2"
  shift 2
fi
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
here="$(cd "$(dirname "$0")/.." && pwd)"
old="$(cd "$1" && pwd)"
new="$(cd "${2:-$here/build}" && pwd)"
for b in "$old" "$new"; do
  [ -x "$b/bin/kelmo" ] || { echo "bench-cli: $b/bin/kelmo not found" >&2; exit 1; }
done
sample="$new/sample/astronaut.png"
[ -f "$sample" ] || { echo "bench-cli: no sample photo in $new/sample (make build fetches it)" >&2; exit 1; }
[ -x "$new/bin/kelmo_upscale_photo" ] || { echo "bench-cli: $new/bin/kelmo_upscale_photo not built" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/kelmo-bench-cli.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/photos"
for k in $(seq -w 1 24); do cp "$sample" "$work/photos/p$k.png"; done
"$new/bin/kelmo_upscale_photo" "$sample" "$work/photo12mp.jpg" 3464

# Seconds of wall time of one command (its output discarded).
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1 || { echo "bench-cli: failed: $*" >&2; exit 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
calc() { awk "BEGIN { print $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One case: the command line after "kelmo", with OUT standing for a fresh
# output folder; prints "name old new" in seconds.
declare -A times
run_case() {
  local name="$1"
  shift
  : > "$work/$name.old"
  : > "$work/$name.new"
  for r in $(seq "$runs"); do
    for side in old new; do
      local build="$old"
      [ "$side" = new ] && build="$new"
      local out="$work/out-$side-$name"
      rm -rf "$out"
      local args=()
      for a in "$@"; do args+=("${a//OUT/$out}"); done
      seconds "$build/bin/kelmo" "${args[@]}" >> "$work/$name.$side"
    done
  done
  times[$name.old]=$(median < "$work/$name.old")
  times[$name.new]=$(median < "$work/$name.new")
}

echo "bench-cli: $runs runs each; old $old, new $new"
echo "  OPENBLAS_NUM_THREADS=${OPENBLAS_NUM_THREADS:-unset} OMP_NUM_THREADS=${OMP_NUM_THREADS:-unset}"
run_case create-512 create "$sample" -o OUT
run_case create-12mp create "$work/photo12mp.jpg" -o OUT
run_case batch-j1 batch "$work/photos" -o OUT -j 1
run_case batch-j2 batch "$work/photos" -o OUT -j 2

printf '%-12s %12s %12s %8s\n' case old new old/new
for name in create-512 create-12mp; do
  o=${times[$name.old]} n=${times[$name.new]}
  printf '%-12s %10.3f s %10.3f s %7.2fx\n' "$name" "$o" "$n" "$(calc "$o / $n")"
done
for name in batch-j1 batch-j2; do
  o=$(calc "24 / ${times[$name.old]}") n=$(calc "24 / ${times[$name.new]}")
  printf '%-12s %8.2f ph/s %8.2f ph/s %7.2fx\n' "$name" "$o" "$n" "$(calc "$n / $o")"
done

# The files of create-512, old against new.
status=0
for f in "$work/out-old-create-512"/*; do
  name="$(basename "$f")"
  if [ "${name##*.}" = png ]; then
    python3 "$here/scripts/compare-images.py" "$f" "$work/out-new-create-512/$name" > /dev/null || {
      echo "bench-cli: create-512: $name differs"; status=1; }
  elif ! cmp -s "$f" "$work/out-new-create-512/$name"; then
    echo "bench-cli: create-512: $name differs"
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "create-512: every file of the new build matches the old one"
exit "$status"
