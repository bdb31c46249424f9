#!/usr/bin/env python3
"""refine_poses through the Python module against the C++ batch, and the Dask
example's throughput on two local workers against one local refine_poses.

usage: bench_python_batch.py BENCH_PROGRAM [REPETITIONS] [--no-dask]

BENCH_PROGRAM is the build's bench_python_batch (Google Benchmark, the C++
refine_poses on F = 10000 frames of N = 100 points of bench/python_overhead_scene.h);
the module trel must be importable (PYTHONPATH=<build>/python). The same frames
are built here in numpy and refined through trel.refine_poses from stacked
arrays, conversions and result objects included; both sides use one thread per
core and report the median wall time over REPETITIONS (default 5).

The Dask rows run examples/distributed_refine.py's partitioned refinement on a
LocalCluster of two worker processes of one thread each (127.0.0.1 only) on the
same frames, against one local refine_poses call, both wall time, reported as
they come.
"""

import json
import os
import statistics
import subprocess
import sys
import time

import numpy as np

import trel

FRAMES, POINTS = 10000, 100
OPTIONS = dict(max_iters=10, min_x_step=0.0, min_y_step=-10000.0)


def frames():
    K = np.array([[800.0, 0.0, 320.0], [0.0, 800.0, 240.0], [0.0, 0.0, 1.0]])
    i = np.arange(POINTS, dtype=np.float64)
    points = np.stack([np.sin(1.3 * i), np.cos(0.7 * i), 0.5 * np.sin(0.37 * i)], axis=1)
    R = trel.rot_vec_rad_to_rot_mat(np.array([0.1, -0.2, 0.05]))
    cam = (points - np.array([0.3, -0.1, -5.0])) @ R
    pixels = np.stack([800.0 * cam[:, 0] / cam[:, 2] + 320.0, 800.0 * cam[:, 1] / cam[:, 2] + 240.0], axis=1)
    start = np.array([0.12, -0.21, 0.08, 0.4, -0.2, -4.8])
    shift = 1e-4 * (np.arange(FRAMES) % 7).astype(np.float64)
    starts = start[None, :] + shift[:, None]
    return (K, np.ascontiguousarray(np.broadcast_to(points, (FRAMES, POINTS, 3))),
            np.ascontiguousarray(np.broadcast_to(pixels, (FRAMES, POINTS, 2))), starts)


def median_seconds(call, repetitions):
    runs = []
    for _ in range(repetitions):
        begin = time.perf_counter()
        call()
        runs.append(time.perf_counter() - begin)
    return statistics.median(runs)


def cpp_seconds(program, repetitions):
    result = subprocess.run(
        [program, "--benchmark_format=json", f"--benchmark_repetitions={repetitions}",
         "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True)
    for row in json.loads(result.stdout)["benchmarks"]:
        if row.get("aggregate_name") == "median":
            return row["real_time"] / 1e3  # the program reports milliseconds
    raise RuntimeError("no median row in the benchmark's output")


def dask_rows(K, points, pixels, starts, repetitions):
    examples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
    sys.path.insert(0, examples)
    # The worker processes unpickle the example's task function by module name.
    os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [examples, os.environ.get("PYTHONPATH")]))
    import distributed_refine
    from dask.distributed import Client, LocalCluster

    options = distributed_refine.OPTIONS
    local = median_seconds(lambda: trel.refine_poses(K, (points, pixels, starts), **options), repetitions)
    with LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address=None,
                      processes=True) as cluster, Client(cluster) as client:
        client.run(lambda: __import__("trel").__version__)
        cluster_time = median_seconds(
            lambda: distributed_refine.refine_on_cluster(client, points, pixels, starts, 8, 1), repetitions)
    return local, cluster_time


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    if not args:
        print(__doc__)
        return 2
    repetitions = int(args[1]) if len(args) > 1 else 5
    K, points, pixels, starts = frames()
    cpp = cpp_seconds(args[0], repetitions)
    py = median_seconds(lambda: trel.refine_poses(K, (points, pixels, starts), **OPTIONS), repetitions)
    print(f"F = {FRAMES}, N = {POINTS}, {os.cpu_count()} cores, median wall time of {repetitions}")
    print()
    print("| run | time (s) | frames/s | ratio |")
    print("|---|---:|---:|---:|")
    print(f"| C++ refine_poses | {cpp:.3f} | {FRAMES / cpp:.0f} | 1.00 |")
    print(f"| Python refine_poses | {py:.3f} | {FRAMES / py:.0f} | {py / cpp:.3f} |")
    if "--no-dask" not in sys.argv:
        local, cluster = dask_rows(K, points, pixels, starts, repetitions)
        print(f"| Python refine_poses, Huber (the Dask example's options) | {local:.3f} | {FRAMES / local:.0f} | 1.00 |")
        print(f"| Dask, 2 local workers x 1 thread, 8 partitions | {cluster:.3f} | {FRAMES / cluster:.0f} | "
              f"{cluster / local:.2f} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
