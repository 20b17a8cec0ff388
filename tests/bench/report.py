#!/usr/bin/env python3
"""Writes docs/PERFORMANCE.md from the benchmarks' JSON results.

    report.py RESULTS.json COMPILER REPETITIONS > docs/PERFORMANCE.md

RESULTS.json is what vestrix_bench writes with --benchmark_out_format=json and
REPETITIONS repetitions (medians are reported); COMPILER is the C++ compiler
that built it.
"""
import datetime
import json
import os
import subprocess
import sys

# The machine is named as on the other pages with figures.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from doc_figures import cpu_model  # noqa: E402

# Benchmark name -> what it measures, in table order.
ROWS = [
    ("BM_28VendorCalls", "28 calls into the do-nothing vendor library, through the plug-in's binding and call site"),
    ("BM_PixelTransfer", "the pixel transfer: the picture packed into its 28 packets and sent"),
    ("BM_Write/16x2_small_font", "Write of 16 characters, 16 x 2 (small font)"),
    ("BM_Write/16x1_large_font", "Write of 16 characters, 16 x 1 (large font)"),
    ("BM_SetFan", "SetFan (an icon segment on or off)"),
    ("BM_RefreshCycle", "one refresh cycle of the icon thread, blinking segments"),
    ("BM_InitDone/icon_thread_held", "Init plus Done, pauses taken out, icon thread held back"),
    ("BM_InitDone/real_icon_thread/real_time", "Init plus Done, pauses taken out, real icon thread"),
]
BASELINE = "BM_28VendorCalls"
WRITES = ["BM_Write/16x2_small_font", "BM_Write/16x1_large_font"]


def to_ns(value, unit):
    return value * {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[unit]


def show(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} µs"
    return f"{ns:.1f} ns"


def main():
    results_path, compiler, repetitions = sys.argv[1], sys.argv[2], sys.argv[3]
    with open(results_path, encoding="utf-8") as results_file:
        results = json.load(results_file)
    medians = {}
    for entry in results["benchmarks"]:
        if entry.get("aggregate_name") == "median":
            medians[entry["run_name"]] = (
                to_ns(entry["real_time"], entry["time_unit"]),
                to_ns(entry["cpu_time"], entry["time_unit"]),
            )
    missing = [name for name, _ in ROWS if name not in medians]
    if missing:
        sys.exit(f"report.py: no median for {', '.join(missing)}")

    context = results["context"]
    version = subprocess.run([compiler, "--version"], capture_output=True, text=True, check=True)
    uname = os.uname()
    out = sys.stdout
    out.write("# Performance\n\n")
    out.write("Written by `scripts/bench.sh` from the benchmarks in `tests/bench/` (Google Benchmark),\n")
    out.write("which drive the plug-in's own code, built as in the `native` preset (RelWithDebInfo),\n")
    out.write("against a vendor library that does nothing. Times are the median of "
              f"{repetitions} runs per\nbenchmark; CPU time is the calling "
              "thread's. Run `scripts/bench.sh` to measure again.\n\n")
    out.write("| Benchmark | What it measures | Median time | Median CPU time |\n")
    out.write("|---|---|---:|---:|\n")
    for name, what in ROWS:
        real, cpu = medians[name]
        out.write(f"| `{name}` | {what} | {show(real)} | {show(cpu)} |\n")

    base_cpu = medians[BASELINE][1]
    out.write("\n## Write against its 28 vendor calls\n\n")
    out.write("Every Write ends in the 28 packets of the pixel transfer. What it costs beyond\n")
    out.write("those 28 bare calls (CPU time) is the plug-in's own work: the text frame, the\n")
    out.write("rasteriser and the packing of the packets.\n\n")
    out.write("| Screen mode | Write | 28 vendor calls | Write's own work | Write / 28 calls |\n")
    out.write("|---|---:|---:|---:|---:|\n")
    for name in WRITES:
        cpu = medians[name][1]
        mode = "16 x 2, small font" if "16x2" in name else "16 x 1, large font"
        out.write(f"| {mode} | {show(cpu)} | {show(base_cpu)} | {show(cpu - base_cpu)} | "
                  f"{cpu / base_cpu:.1f} x |\n")

    load = context.get("load_avg", [])
    out.write("\n## The machine\n\n")
    out.write(f"- CPU: {cpu_model()}, {context.get('num_cpus', os.cpu_count())} cores "
              f"({os.cpu_count()} online)\n")
    out.write(f"- Kernel: {uname.sysname} {uname.release} ({uname.machine})\n")
    out.write(f"- Compiler: {version.stdout.splitlines()[0]}\n")
    out.write(f"- Google Benchmark: Debian's package, which calls itself a "
              f"{context.get('library_build_type', 'unknown')} build; that touches the library's "
              "bookkeeping around the timed loops, not the code measured\n")
    if load:
        out.write(f"- Load average at the start: {', '.join(f'{value:.2f}' for value in load)}\n")
    date = context.get("date") or datetime.datetime.now(datetime.timezone.utc).isoformat()
    out.write(f"- Date: {date}\n")
    out.write("\nThe figures are for comparing changes on one machine. On a shared or busy\n"
              "machine (see the load average) the wall-clock times exceed the CPU times, which\n"
              "are the steadier figure. Nothing judges them: the tests run each benchmark once\n"
              "only (`vestrix_bench_smoke`), to keep them working.\n")


if __name__ == "__main__":
    main()
