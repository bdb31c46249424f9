#!/usr/bin/env python3
"""A camera pose from 2-D/3-D matches of which a third are wrong.

usage: pose_from_matches.py [--seed S]

A seeded scene: 60 world points seen by a 640 x 480 camera of focal length
800, pixels with 0.5 px noise, 20 of the matches replaced by random pixels.
estimate_pose finds the pose and the inliers; refine_pose then refines it on
every match with a robust loss, and a bad call shows trel.Error's text.
"""

import argparse
import sys
from typing import Optional, Sequence

import numpy as np

import trel


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").split("\n")[0])
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args(argv)

    rng = np.random.default_rng(args.seed)
    K = np.array([[800.0, 0.0, 320.0], [0.0, 800.0, 240.0], [0.0, 0.0, 1.0]])
    truth = np.array([0.1, -0.2, 0.05, 0.3, -0.1, -5.0])  # rotation vector, then camera centre
    points = rng.uniform(-1.0, 1.0, (60, 3))
    camera_points = (points - truth[3:]) @ trel.rot_vec_rad_to_rot_mat(truth[:3])
    pixels = camera_points[:, :2] / camera_points[:, 2:] * 800.0 + [320.0, 240.0]
    pixels += rng.normal(0.0, 0.5, pixels.shape)
    wrong = rng.choice(60, 20, replace=False)
    pixels[wrong] = rng.uniform([0.0, 0.0], [640.0, 480.0], (20, 2))

    estimate = trel.estimate_pose(K, points, pixels, threshold=3.0, seed=1)
    print(f"estimate_pose: {estimate.num_inliers} inliers of 60, "
          f"{np.count_nonzero(estimate.inliers[wrong])} of them among the 20 wrong matches")
    x, summary = trel.refine_pose(K, points, pixels, estimate.x, loss="cauchy", loss_scale=2.0)
    print(f"refine_pose: {summary.iterations} iterations, stop: {summary.stop_reason}, "
          f"centre {np.linalg.norm(x[3:] - truth[3:]):.3f} units from the truth")

    try:
        trel.refine_pose(K, points, pixels, estimate.x[:5])
    except trel.Error as error:
        print(f"trel.Error: {error}")
    return 0 if estimate.num_inliers >= 35 and np.linalg.norm(x[3:] - truth[3:]) < 0.1 else 1


if __name__ == "__main__":
    sys.exit(main())
