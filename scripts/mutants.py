#!/usr/bin/env python3
"""Deliberate faults, and whether the test suite catches them.

Each line of the tables tests/mutants/*.tsv names one fault planted in the
code:

    id <TAB> file <TAB> original text <TAB> faulty text <TAB> the fault it models

The original text must occur exactly once in the file (``\\n`` and ``\\t``
stand for a newline and a tab), so a fault stays well defined while comments
and unrelated code around it change. For every fault the runner copies the
tracked tree into BUILD/src, plants the fault, builds incrementally in
BUILD/build and runs the suite (ctest, stopping at the first failure). A
fault is "caught" when a test fails, "missed" when the suite passes, and
"stale" when its original text is no longer found once in the file or the
faulty code does not compile; stale faults need their line updated.

    scripts/mutants.py [--build DIR] [--tests REGEX] [--exclude REGEX] [--jobs N] [--no-debug-info] [ID ...]

Prints one markdown row per fault and a summary; exits 1 if any was missed
or stale.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TABLES = os.path.join(ROOT, "tests", "mutants")


def unescape(text):
    return text.replace("\\n", "\n").replace("\\t", "\t")


def read_table(path):
    faults = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 5:
                sys.exit(f"{path}:{number}: expected 5 tab-separated fields, got {len(fields)}")
            faults.append(dict(id=fields[0], file=fields[1], original=unescape(fields[2]),
                               faulty=unescape(fields[3]), models=fields[4]))
    return faults


def sync_tree(src_dir):
    """Mirrors the tracked files into src_dir, copying only what changed so
    that the build there stays incremental."""
    files = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True,
                           capture_output=True).stdout.decode().split("\0")
    files = {f for f in files if f and os.path.isfile(os.path.join(ROOT, f))}
    for name in files:
        source, target = os.path.join(ROOT, name), os.path.join(src_dir, name)
        if os.path.exists(target) and open(source, "rb").read() == open(target, "rb").read():
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)
    for folder, _, names in os.walk(src_dir):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.relpath(path, src_dir) not in files:
                os.remove(path)


def run(cmd, cwd, log):
    with open(log, "ab") as out:
        return subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-mutants"))
    parser.add_argument("--tests", default="", help="ctest -R regex: run only these tests")
    parser.add_argument("--exclude", default="", help="ctest -E regex: leave these tests out")
    parser.add_argument("--jobs", default=str(os.cpu_count() or 2))
    parser.add_argument("--no-debug-info", action="store_true",
                        help="build without -g: the same code, much faster links")
    parser.add_argument("ids", nargs="*")
    args = parser.parse_args()

    faults = [fault for name in sorted(os.listdir(TABLES)) if name.endswith(".tsv")
              for fault in read_table(os.path.join(TABLES, name))]
    if args.ids:
        faults = [f for f in faults if f["id"] in args.ids]
    src_dir = os.path.join(args.build, "src")
    build_dir = os.path.join(args.build, "build")
    log = os.path.join(args.build, "mutants.log")
    sync_tree(src_dir)
    os.makedirs(build_dir, exist_ok=True)
    open(log, "w").close()
    configure = ["cmake", "-S", src_dir, "-B", build_dir, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                 "-DKELMO_BUILD_BENCH=OFF"]
    if args.no_debug_info:
        configure += ["-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG",
                      "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG"]
    if run(configure, ROOT, log) != 0 or \
       run(["cmake", "--build", build_dir, "-j", args.jobs], ROOT, log) != 0:
        sys.exit(f"the unchanged tree does not build: see {log}")
    sample = os.path.join(ROOT, "build", "sample")
    if os.path.isdir(sample) and not os.path.isdir(os.path.join(build_dir, "sample")):
        shutil.copytree(sample, os.path.join(build_dir, "sample"))

    print("| id | file | fault it models | result |")
    print("|---|---|---|---|")
    counts = {"caught": 0, "missed": 0, "stale": 0}
    for fault in faults:
        path = os.path.join(src_dir, fault["file"])
        with open(path, encoding="utf-8") as f:
            text = f.read()
        if text.count(fault["original"]) != 1:
            result = "stale (text not found once)"
        else:
            start = time.time()
            with open(path, "w", encoding="utf-8") as f:
                f.write(text.replace(fault["original"], fault["faulty"]))
            try:
                with open(log, "a") as out:
                    out.write(f"\n==== {fault['id']}\n")
                if run(["cmake", "--build", build_dir, "-j", args.jobs], ROOT, log) != 0:
                    result = "stale (does not compile)"
                else:
                    cmd = ["ctest", "-j", args.jobs, "--stop-on-failure", "--no-tests=error", "--timeout", "300"]
                    if args.tests:
                        cmd += ["-R", args.tests]
                    if args.exclude:
                        cmd += ["-E", args.exclude]
                    failed = run(cmd, build_dir, log) != 0
                    result = ("caught" if failed else "missed") + f" ({time.time() - start:.0f} s)"
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text)
        counts[result.split()[0]] += 1
        print(f"| {fault['id']} | `{fault['file']}` | {fault['models']} | {result} |", flush=True)
    print(f"\n{counts['caught']} caught, {counts['missed']} missed, {counts['stale']} stale "
          f"of {len(faults)}")
    return 0 if counts["missed"] == 0 and counts["stale"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
