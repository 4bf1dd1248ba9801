#!/usr/bin/env python3
"""Prints the performance targets with the ratios measured in one kvd-bench
run: reads Google Benchmark's JSON (median CPU times of repeated runs). A
blend target is the worst cell of its grid, named beside the ratio."""
import json
import re
import sys

PIXMAN = {"SRC": 1, "OVER": 3, "ADD": 12, "MULTIPLY": 48, "SCREEN": 49, "OVERLAY": 50, "DARKEN": 51,
          "LIGHTEN": 52, "COLOR_DODGE": 53, "COLOR_BURN": 54, "DIFFERENCE": 57}
# Our preserving and compositing codes beside the pixman operator of the same blend.
ARITHMETIC = [("Multiply", 8, 29, "MULTIPLY"), ("Overlay", 9, 31, "OVERLAY"), ("Screen", 10, 32, "SCREEN"),
              ("Lighten", 12, 34, "LIGHTEN"), ("Darken", 13, 35, "DARKEN"), ("Difference", 14, 36, "DIFFERENCE"),
              ("ColorDodge", 15, 37, "COLOR_DODGE"), ("ColorBurn", 16, 38, "COLOR_BURN")]
# The grid of every blend target: (destination, opacity), the destination as
# blend_bench.cpp numbers it.
DESTINATIONS = ["opaque", "transparent", "half-transparent", "mixed"]
CASES = [(destination, opacity) for destination in range(len(DESTINATIONS)) for opacity in (255, 128)]


def medians(path):
    with open(path) as f:
        data = json.load(f)
    times = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        times[re.sub(r"_median$", "", b["run_name"] if "run_name" in b else b["name"])] = b["cpu_time"]
    return times


def main():
    t = medians(sys.argv[1])
    rows = []

    def row(target, ratio, goal, higher_is_better=True, case=""):
        met = ratio >= goal if higher_is_better else ratio <= goal
        rows.append((target, f"{ratio:.2f}", "met" if met else "NOT met", case))

    def blend(code, destination, opacity):
        return t[f"BM_BlendRow/code:{code}/destination:{destination}/opacity:{opacity}"]

    def pixman(op, destination, opacity):
        return t[f"BM_Pixman/code:{PIXMAN[op]}/destination:{destination}/opacity:{opacity}"]

    def worst_cell(target, code, op, goal):
        ratio, (destination, opacity) = min((pixman(op, *c) / blend(code, *c), c) for c in CASES)
        row(target, ratio, goal, case=f"opacity {opacity}, {DESTINATIONS[destination]} destination")

    row("Copy >= 0.9 x memcpy", t["BM_Memcpy"] / t["BM_Copy"], 0.9)
    worst_cell("Normal (6) >= 1.0 x pixman OVER", 6, "OVER", 1.0)
    worst_cell("NormalAlpha (28) >= 1.0 x pixman OVER", 28, "OVER", 1.0)
    worst_cell("Add (7) >= 1.0 x pixman ADD", 7, "ADD", 1.0)
    worst_cell("AddAlpha (30) >= 0.5 x pixman ADD", 30, "ADD", 0.5)
    for name, preserving, compositing, op in ARITHMETIC:
        worst_cell(f"{name} ({preserving}) >= 5 x pixman {op}", preserving, op, 5.0)
        worst_cell(f"{name}Alpha ({compositing}) >= 5 x pixman {op}", compositing, op, 5.0)
    for case, label, goal in [(0, "1024^2 -> 256^2", 3), (1, "300x400 -> 192x256 (fractional boxes)", 2),
                              (2, "2000^2 -> 10^2", 3)]:
        row(f"Box {label} >= {goal} x pixman separable box",
            t[f"BM_PixmanResample/case:{case}"] / t[f"BM_Resample/case:{case}"], goal)
    row("Nearest 256^2 -> 1024^2 >= 1.0 x pixman NEAREST", t["BM_PixmanResample/case:3"] / t["BM_Resample/case:3"], 1.0)
    zlib = t["BM_ZlibInflatePreviewAlone"]
    # At least 0.95 of the speed of zlib's uncompress of the preview alone.
    row("Pipeline cx 256 from memory <= 1.05 x zlib inflation of the preview",
        t["BM_PipelineFromMemory/cx:256"] / zlib, 1 / 0.95, False)
    row("Pipeline cx 256 from a file <= 1.2 x zlib inflation of the preview",
        t["BM_PipelineFromFile/cx:256"] / zlib, 1.2, False)
    row("1 GiB layer document <= 1.1 x the one without (file, cx 256)",
        t["BM_PipelineGibibyteLayerFromFile/cx:256"] / t["BM_PipelineFromFile/cx:256"], 1.1, False)
    row("8192^2 Thumb with 1 MiB payload <= 2 x the realistic document (memory, cx 256)",
        t["BM_PipelineHugeThumbFromMemory/cx:256"] / t["BM_PipelineFromMemory/cx:256"], 2.0, False)
    width = max(len(r[0]) for r in rows)
    print(f"{'Target':<{width}}  Ratio  Result   Worst cell of the blend grid")
    for target, ratio, result, case in rows:
        print(f"{target:<{width}}  {ratio:>5}  {result:<7}  {case}".rstrip())


if __name__ == "__main__":
    main()
