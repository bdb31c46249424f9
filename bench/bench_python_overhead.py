#!/usr/bin/env python3
"""Call overhead of refine_pose through the Python module against the C++ call.

usage: bench_python_overhead.py BENCH_PROGRAM [REPETITIONS]

BENCH_PROGRAM is the build's bench_python_overhead (Google Benchmark, the C++
call); the module trel must be importable (PYTHONPATH=<build>/python). Both
sides refine the scene of bench/python_overhead_scene.h, built here with the
same formulas, and report the median CPU time of the process per call over
REPETITIONS (default 5): CPU time, not wall time, so that other load on the
machine does not count; the call runs on the calling thread only. The table
gives the ratio Python / C++ per N.
"""

import json
import statistics
import subprocess
import sys
import time
import timeit

import numpy as np

import trel

SIZES = (10, 100, 1000)


def scene(n):
    K = np.array([[800.0, 0.0, 320.0], [0.0, 800.0, 240.0], [0.0, 0.0, 1.0]])
    i = np.arange(n, dtype=np.float64)
    points = np.stack([np.sin(1.3 * i), np.cos(0.7 * i), 0.5 * np.sin(0.37 * i)], axis=1)
    R = trel.rot_vec_rad_to_rot_mat(np.array([0.1, -0.2, 0.05]))
    cam = (points - np.array([0.3, -0.1, -5.0])) @ R
    pixels = np.stack([800.0 * cam[:, 0] / cam[:, 2] + 320.0, 800.0 * cam[:, 1] / cam[:, 2] + 240.0], axis=1)
    start = np.array([0.12, -0.21, 0.08, 0.4, -0.2, -4.8])
    return K, points, pixels, start


def python_times(repetitions):
    out = {}
    for n in SIZES:
        K, points, pixels, start = scene(n)

        def call():
            trel.refine_pose(K, points, pixels, start, max_iters=10, min_x_step=0.0, min_y_step=-10000.0)

        timer = timeit.Timer(call, timer=time.process_time)
        number, _ = timer.autorange()
        runs = timer.repeat(repeat=repetitions, number=max(number, 1))
        out[n] = statistics.median(runs) / max(number, 1) * 1e6
    return out


def cpp_times(program, repetitions):
    result = subprocess.run(
        [program, "--benchmark_format=json", f"--benchmark_repetitions={repetitions}",
         "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True)
    out = {}
    for row in json.loads(result.stdout)["benchmarks"]:
        if row.get("aggregate_name") == "median":
            n = int(row["run_name"].split("/")[1])
            out[n] = row["cpu_time"]  # microseconds, the program's unit
    return out


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    cpp = cpp_times(sys.argv[1], repetitions)
    py = python_times(repetitions)
    print("| N | C++ (us) | Python (us) | Python / C++ |")
    print("|---:|---:|---:|---:|")
    for n in SIZES:
        print(f"| {n} | {cpp[n]:.1f} | {py[n]:.1f} | {py[n] / cpp[n]:.2f} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
