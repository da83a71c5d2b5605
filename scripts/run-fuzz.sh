#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build (make fuzz) for SECONDS each, one after
# the other, and prints a line per target: executions, corpus size and
# coverage (edges at the start and at the end of the run).
#
#   bash scripts/run-fuzz.sh BUILD SECONDS [NAME...]     (default: every target)
#
# Each target grows its corpus in BUILD/fuzz/corpus/NAME, starting from the
# seeds (BUILD/fuzz/seeds/NAME) and the kept regressions (fuzz/regressions/NAME),
# with a dictionary where its format has one (fuzz/NAME.dict). A slow or greedy
# input is a failure like a crash: at most 512 MB and 10 s per input. Every
# crash, leak, timeout or out-of-memory input is minimised into
# fuzz/regressions/NAME/, which the test suite replays; the run then fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
seconds=$2
shift 2
if [ $# -gt 0 ]; then
  names=("$@")
else
  names=()
  for program in "$build"/bin/kelmo_fuzz_*; do
    name=${program##*/kelmo_fuzz_}
    [ "$name" = seeds ] || names+=("$name")
  done
fi

# Freed blocks wait in ASan's quarantine (256 MB by default) and count in the
# 512 MB an input may use: a smaller quarantine keeps the limit about what the
# code itself holds, while still catching a use after free of recent blocks.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:quarantine_size_mb=64
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# One thread per warp: the fuzzer measures one input at a time.
export OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1

failed=()
printf '%-16s %12s %10s %9s %12s %8s  %s\n' target executions exec/s corpus "corpus bytes" "edges" "new edges"
for name in "${names[@]}"; do
  program=$build/bin/kelmo_fuzz_$name
  corpus=$build/fuzz/corpus/$name
  artifacts=$build/fuzz/artifacts/$name
  log=$build/fuzz/logs/$name.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  inputs=("$corpus")
  for extra in "$build/fuzz/seeds/$name" "fuzz/regressions/$name"; do
    [ -d "$extra" ] && inputs+=("$extra")
  done
  options=(-max_total_time="$seconds" -rss_limit_mb=512 -timeout=10 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  [ -f "fuzz/$name.dict" ] && options+=(-dict="fuzz/$name.dict")
  # Compressed images: a few kilobytes reach every path of the readers, and
  # keep the size a fuzzed header can claim (64 MB plus 2 KB per byte of the
  # file) well inside the memory limit.
  [ "$name" = image ] && options+=(-max_len=8192)
  status=0
  "$program" "${options[@]}" "${inputs[@]}" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  start=$(sed -n 's/.*INITED cov: \([0-9]*\).*/\1/p' "$log" | tail -1)
  end=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  files=$(find "$corpus" -type f | wc -l)
  bytes=$(du -sb "$corpus" | cut -f1)
  printf '%-16s %12s %10s %9s %12s %8s  %s\n' "$name" "${executions:-?}" "${rate:-?}" "$files" "$bytes" \
    "${end:-?}" "+$(( ${end:-0} - ${start:-0} ))"
  # A slow unit is only reported: its time is the wall clock of a shared
  # machine; an input that really takes 10 s is a timeout.
  found=$(find "$artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | sort)
  if [ "$status" -ne 0 ] || [ -n "$found" ]; then
    failed+=("$name")
    echo "  $name failed (exit $status), log: $log" >&2
    grep -m3 -E 'ERROR|check failed|runtime error' "$log" | sed 's/^/    /' >&2 || true
    mkdir -p "fuzz/regressions/$name"
    for artifact in $found; do
      kept=fuzz/regressions/$name/${artifact##*/}
      # A crash shrinks to the smallest input that still crashes; a timeout or
      # out-of-memory input is kept as found.
      if [[ ${artifact##*/} == crash-* || ${artifact##*/} == leak-* ]]; then
        "$program" -minimize_crash=1 -max_total_time=60 -exact_artifact_path="$kept" "$artifact" \
          >"$log.minimise" 2>&1 || true
      fi
      [ -f "$kept" ] || cp "$artifact" "$kept"
      rm -f "$artifact"
      echo "    kept $kept" >&2
    done
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failures in ${failed[*]}; inputs kept in fuzz/regressions/" >&2
  exit 1
fi
