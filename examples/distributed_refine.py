#!/usr/bin/env python3
"""Refines the poses of a large set of frames in partitions on a Dask cluster.

usage: distributed_refine.py [--scheduler ADDRESS] [--frames F] [--points N]
                             [--partitions P] [--threads T] [--seed S]

Each task refines one partition of the frames with trel.refine_poses; the
gathered poses are compared with one refine_poses call on this machine and
must be bit for bit the same (exit status 1 otherwise).

Without --scheduler the script starts a LocalCluster of two worker processes
of one thread each, listening on 127.0.0.1 only, and stops it at the end. With
--scheduler tcp://host:8786 it uses a running cluster (dask-scheduler and
dask-worker on the machines); every worker must be able to import trel (the
module installed, or PYTHONPATH set in the workers' environment).

The set is synthetic and seeded: F frames of N world points seen by a
640 x 480 camera of focal length 800 from random poses, pixels with 0.5 px
noise, starts 0.05 rad and 0.2 units away from the truth.
"""

import argparse
import os
import sys
import time
from typing import Any, List, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

import trel

Array = npt.NDArray[np.float64]
K = np.array([[800.0, 0.0, 320.0], [0.0, 800.0, 240.0], [0.0, 0.0, 1.0]])


def refine(points: Array, pixels: Array, starts: Array, threads: int = 0) -> Tuple[Array, trel.BatchSummaries]:
    """The one set of options of every run, local and on the cluster."""
    return trel.refine_poses(K, (points, pixels, starts), threads=threads, rotation_code=0, max_iters=10,
                             loss="huber", loss_scale=2.0)


def make_frames(frames: int, points: int, seed: int) -> Tuple[Array, Array, Array]:
    """Stacked arrays: world points F x N x 3, pixels F x N x 2, starts F x 6."""
    rng = np.random.default_rng(seed)
    rot_vecs = rng.uniform(-0.3, 0.3, (frames, 3))
    centres = np.column_stack([rng.uniform(-0.5, 0.5, (frames, 2)), rng.uniform(-6.0, -4.0, frames)])
    world = rng.uniform(-1.0, 1.0, (frames, points, 3))
    R = trel.rot_vec_rad_to_rot_mat(rot_vecs)                     # F x 3 x 3, camera to world axes
    cam = np.einsum("fni,fij->fnj", world - centres[:, None, :], R)  # R^T (X - centre), row-wise
    pixels = cam[..., :2] / cam[..., 2:] * 800.0 + [320.0, 240.0]
    pixels += rng.normal(0.0, 0.5, pixels.shape)
    starts = np.column_stack([rot_vecs + rng.uniform(-0.05, 0.05, (frames, 3)),
                              centres + rng.uniform(-0.2, 0.2, (frames, 3))])
    return world, pixels, starts


def refine_partition(points: Array, pixels: Array, starts: Array,
                     threads: int) -> Tuple[Array, List[bool], List[str]]:
    """One task: the refined vectors of a partition and each frame's outcome."""
    x, summaries = refine(points, pixels, starts, threads)
    return x, [s.ok for s in summaries], [s.error for s in summaries]


def refine_on_cluster(client: Any, world: Array, pixels: Array, starts: Array, partitions: int,
                      threads: int) -> Tuple[Array, List[bool], List[str]]:
    bounds = np.linspace(0, len(starts), partitions + 1).astype(int)
    futures = []
    for a, b in zip(bounds[:-1], bounds[1:]):
        if a == b:
            continue
        parts = client.scatter([world[a:b], pixels[a:b], starts[a:b]], hash=False)
        futures.append(client.submit(refine_partition, *parts, threads, pure=False))
    results: List[Tuple[Array, List[bool], List[str]]] = client.gather(futures)
    x = np.concatenate([r[0] for r in results])
    ok = [flag for r in results for flag in r[1]]
    errors = [e for r in results for e in r[2]]
    return x, ok, errors


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").split("\n")[0])
    parser.add_argument("--scheduler", help="address of a running Dask scheduler, e.g. tcp://10.0.0.5:8786")
    parser.add_argument("--frames", type=int, default=20000)
    parser.add_argument("--points", type=int, default=100)
    parser.add_argument("--partitions", type=int, default=0, help="default: four per worker thread")
    parser.add_argument("--threads", type=int, default=None,
                        help="threads of refine_poses in each task (default 1 on the local cluster, "
                             "0 = one per core with --scheduler)")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args(argv)
    if args.frames < 1 or args.points < 4:
        parser.error("--frames must be at least 1 and --points at least 4")

    from dask.distributed import Client, LocalCluster

    world, pixels, starts = make_frames(args.frames, args.points, args.seed)
    print(f"{args.frames} frames of {args.points} points")

    begin = time.perf_counter()
    x_local, summaries = refine(world, pixels, starts)
    local_seconds = time.perf_counter() - begin
    print(f"local refine_poses: {local_seconds:.3f} s, {args.frames / local_seconds:.0f} frames/s "
          f"({os.cpu_count()} cores)")

    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
        threads = 0 if args.threads is None else args.threads
    else:
        cluster = LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1", dashboard_address=None,
                               processes=True)
        client = Client(cluster)
        threads = 1 if args.threads is None else args.threads
    try:
        worker_threads = sum(client.nthreads().values())
        partitions = args.partitions or 4 * max(worker_threads, 1)
        print(f"cluster: {len(client.nthreads())} workers, {worker_threads} threads, {partitions} partitions")
        # A first small run loads trel on every worker, out of the timing.
        client.run(lambda: __import__("trel").__version__)
        begin = time.perf_counter()
        x_cluster, ok, errors = refine_on_cluster(client, world, pixels, starts, partitions, threads)
        cluster_seconds = time.perf_counter() - begin
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    print(f"cluster refine_poses: {cluster_seconds:.3f} s, {args.frames / cluster_seconds:.0f} frames/s "
          f"({cluster_seconds / local_seconds:.2f} x the local time)")

    failed = [(i, e) for i, (flag, e) in enumerate(zip(ok, errors)) if not flag]
    if failed:
        print(f"{len(failed)} frames failed, the first: frame {failed[0][0]}: {failed[0][1]}")
    same_flags = ok == [s.ok for s in summaries]
    if x_cluster.shape == x_local.shape and same_flags and np.array_equal(x_cluster, x_local, equal_nan=True):
        print("the cluster's poses equal the local ones bit for bit")
        return 0
    print("the cluster's poses differ from the local ones")
    return 1


if __name__ == "__main__":
    sys.exit(main())
