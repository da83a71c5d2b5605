#!/usr/bin/env python3
"""Times benchmark cases of `make bench` in two builds, alternately.

    python3 scripts/bench-compare.py [--rounds N] OLD_BUILD [NEW_BUILD] [CASE ...]

Each CASE is a benchmark filter (a regular expression, as for
--benchmark_filter), optionally followed by @T for T OpenMP threads
(default 1). Every case runs in OLD_BUILD/bin/kelmo_bench and in
NEW_BUILD/bin/kelmo_bench (default: build) one after the other, N rounds
(default 5) of three repetitions each, the order flipped every round; the
medians of the rounds' medians are printed with their range. On a shared
machine whose load moves from minute to minute, this keeps the two builds
(and a peer measured beside them) under the same conditions, which a
separate run of each does not. Without CASEs, the cases of the README's
performance table.
"""
import json
import os
import statistics
import subprocess
import sys

DEFAULT_CASES = [
    "BM_RemapBilinear/channels:1/level:3$", "BM_RemapBilinear/channels:3/level:3$",
    "BM_RemapBilinear/channels:4/level:3$", "BM_OpenCvRemapBilinear/1$", "BM_OpenCvRemapBilinear/3$",
    "BM_OpenCvRemapBilinear/4$", "BM_ResizeMapBilinear/level:3$", "BM_OpenCvResizeBilinear$",
    "WarpImageRBF/side:1024/mode:0/threads:1/level:3/", "WarpImageRBF/side:1024/mode:0/threads:2/level:3/",
    "WarpImageRBF/side:1024/mode:2/threads:1/level:3/", "WarpImageRBF/side:1024/mode:2/threads:2/level:3/",
    "RenderModelToImage/side:1024/threads:1/level:3/", "RenderModelToImage/side:1024/threads:2/level:3/",
    "LlvmpipeRender/side:1024/single_thread:1/", "LlvmpipeRender/side:1024/single_thread:0/",
    "extractFaceFrame/4000/3000$", "extractFaceFrame/4000/3000$@2", "BM_CreateModelFromPhoto/4000/3000/0$",
]
UNIT_TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def median_ms(program, case_filter, threads):
    environment = dict(os.environ, OMP_NUM_THREADS=str(threads))
    result = subprocess.run([program, "--benchmark_filter=" + case_filter, "--benchmark_repetitions=3",
                             "--benchmark_report_aggregates_only=true", "--benchmark_format=json"],
                            env=environment, capture_output=True, text=True, check=True)
    medians = [b for b in json.loads(result.stdout)["benchmarks"] if b.get("aggregate_name") == "median"]
    if len(medians) != 1:
        sys.exit(f"bench-compare: '{case_filter}' matches {len(medians)} benchmarks in {program}, not one")
    return medians[0]["real_time"] * UNIT_TO_MS[medians[0]["time_unit"]]


def main(arguments):
    rounds = 5
    if arguments[:1] == ["--rounds"]:
        rounds, arguments = int(arguments[1]), arguments[2:]
    if not arguments:
        sys.exit(__doc__)
    old = arguments.pop(0)
    new = arguments.pop(0) if arguments and os.path.isdir(arguments[0]) else "build"
    programs = {"old": os.path.join(old, "bin", "kelmo_bench"), "new": os.path.join(new, "bin", "kelmo_bench")}
    for program in programs.values():
        if not os.access(program, os.X_OK):
            sys.exit(f"bench-compare: {program} not found")
    print(f"{'case':58} {'old ms':>16} {'new ms':>16}  old/new")
    for case in arguments or DEFAULT_CASES:
        case_filter, _, threads = case.partition("@")
        times = {"old": [], "new": []}
        for r in range(rounds):
            for build in (("old", "new") if r % 2 == 0 else ("new", "old")):
                times[build].append(median_ms(programs[build], case_filter, int(threads or 1)))
        old_ms, new_ms = statistics.median(times["old"]), statistics.median(times["new"])
        spread = {b: f"{min(t):.3g}-{max(t):.3g}" for b, t in times.items()}
        print(f"{case:58} {old_ms:7.3f} ({spread['old']:>9}) {new_ms:7.3f} ({spread['new']:>9})  {old_ms / new_ms:.2f}x",
              flush=True)


if __name__ == "__main__":
    main(sys.argv[1:])
