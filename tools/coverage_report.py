#!/usr/bin/env python3
"""Line coverage of the program and its companions, per folder, from the gcov
data that a build with KESTRANOV_COVERAGE=ON leaves after its tests ran.

    tools/coverage_report.py BUILD_DIR [--files]

A header is compiled into many objects: a line of it counts as run when any
object ran it, and as a line at all when any object has code for it. The
tests, fuzz targets, benchmarks and tools/ are left out, and so is every file
outside the repository (system and GoogleTest headers). --files adds one
line per source file, most lines missed first.
"""

import collections
import json
import os
import subprocess
import sys

ROOT = os.path.realpath(os.path.join(os.path.dirname(__file__), ".."))
SRC_FOLDERS = ["src/core", "src/platform", "src/points", "src/grid", "src/tin", "src/output", "src/run"]
OTHER_FOLDERS = ["LIB", "models", "preview", "export", "gridder"]
LEFT_OUT = ("tests", "fuzz", "bench", "tools")


def group_of(rel):
    """The folder a repository file is reported under, or None to leave it out."""
    parts = rel.split("/")
    if parts[0] in LEFT_OUT or parts[0].startswith("build"):
        return None
    if parts[0] == "src":
        return "src" if len(parts) == 2 else "src/" + parts[1]
    return parts[0] if parts[0] in OTHER_FOLDERS else None


def gcov_documents(build):
    """One JSON document per object file that has run, as gcov reads it."""
    by_dir = collections.defaultdict(list)
    for dirpath, _, names in os.walk(build):
        for name in names:
            if name.endswith(".gcda"):
                by_dir[dirpath].append(name)
    for dirpath, names in sorted(by_dir.items()):
        # One gcov per folder of objects; --stdout keeps the build folder free
        # of .gcov files and gives one document per line.
        out = subprocess.run(["gcov", "--json-format", "--stdout", *sorted(names)], cwd=dirpath,
                             check=True, capture_output=True, text=True).stdout
        for line in out.splitlines():
            if line.strip():
                yield json.loads(line)


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    floor = None
    for a in sys.argv[1:]:
        if a.startswith("--floor="):
            floor = float(a[len("--floor="):])
    if len(args) != 1:
        sys.exit("usage: coverage_report.py BUILD_DIR [--files] [--floor=PERCENT]")
    build = os.path.realpath(args[0])
    # (file, line) -> run at least once in any object
    lines = {}
    documents = 0
    for doc in gcov_documents(build):
        documents += 1
        cwd = doc.get("current_working_directory", build)
        for f in doc["files"]:
            path = os.path.realpath(os.path.join(cwd, f["file"]))
            if not path.startswith(ROOT + os.sep):
                continue
            rel = os.path.relpath(path, ROOT)
            if group_of(rel) is None:
                continue
            for ln in f["lines"]:
                key = (rel, ln["line_number"])
                lines[key] = lines.get(key, False) or ln["count"] > 0
    if documents == 0:
        sys.exit(f"coverage_report: no coverage data (.gcda) under {build}: did the tests run?")

    per_file = collections.defaultdict(lambda: [0, 0])
    for (rel, _), run in lines.items():
        per_file[rel][0] += run
        per_file[rel][1] += 1
    per_group = collections.defaultdict(lambda: [0, 0])
    for rel, (run, total) in per_file.items():
        g = per_group[group_of(rel)]
        g[0] += run
        g[1] += total

    def pct(run, total):
        return 100.0 * run / total if total else 0.0

    print("Line coverage (lines run / lines with code; tests, fuzz, bench and tools left out)")
    for g in SRC_FOLDERS + ["src"] + OTHER_FOLDERS:
        if g not in per_group:
            if g in SRC_FOLDERS:
                print(f"{g:<18} no code run or built")
            continue
        run, total = per_group[g]
        name = "src/kestranov.cpp" if g == "src" else g
        print(f"{name:<18} {run:6d} / {total:6d}  {pct(run, total):5.1f}%")
    if "--files" in sys.argv[1:]:
        print("Per file, most lines missed first:")
        for rel, (run, total) in sorted(per_file.items(), key=lambda kv: (kv[1][0] - kv[1][1], kv[0])):
            print(f"  {rel:<40} {total - run:5d} missed of {total:5d}  {pct(run, total):5.1f}%")
    src_run = sum(v[0] for k, v in per_group.items() if k == "src" or k.startswith("src/"))
    src_total = sum(v[1] for k, v in per_group.items() if k == "src" or k.startswith("src/"))
    print(f"src total {pct(src_run, src_total):.1f}%")
    # A floor under src/'s figure: coverage that falls is a finding, not a number to read past.
    if floor is not None and pct(src_run, src_total) < floor:
        sys.exit(f"coverage_report: src total {pct(src_run, src_total):.1f}% is below the floor of {floor:g}%")


if __name__ == "__main__":
    main()
