#!/usr/bin/env python3
"""Writes matches.txt beside this script: 2-D/3-D correspondences of a camera
with K = [800 0 320; 0 800 240; 0 0 1], 25 % of them wrong.

Each line: X Y Z u v (a world point and its observed pixel). The camera's pose:
rotation vector (0.2, -0.3, 0.1), centre (0.4, -0.2, -1.0); a world point X is
at R^T (X - centre) in the camera. 80 points 4 to 12 m in front, 0.5 px of
noise; every fourth pixel is replaced by a random one in the 640 x 480 image.
"""
import os

import numpy as np


def rotation_matrix(r):
    angle = np.linalg.norm(r)
    k = r / angle
    kx = np.array([[0, -k[2], k[1]], [k[2], 0, -k[0]], [-k[1], k[0], 0]])
    return np.eye(3) + np.sin(angle) * kx + (1 - np.cos(angle)) * kx @ kx


def main():
    rng = np.random.default_rng(7)
    R = rotation_matrix(np.array([0.2, -0.3, 0.1]))
    centre = np.array([0.4, -0.2, -1.0])
    n = 80
    z = rng.uniform(4.0, 12.0, n)
    cam = np.stack([0.35 * rng.uniform(-1, 1, n) * z, 0.27 * rng.uniform(-1, 1, n) * z, z], axis=1)
    world = cam @ R.T + centre
    pixels = np.stack([800 * cam[:, 0] / z + 320, 800 * cam[:, 1] / z + 240], axis=1)
    pixels += rng.normal(0.0, 0.5, pixels.shape)
    wrong = np.arange(n) % 4 == 3
    pixels[wrong] = rng.uniform([0, 0], [640, 480], (wrong.sum(), 2))
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "matches.txt")
    np.savetxt(path, np.hstack([world, pixels]), fmt="%.6f")


if __name__ == "__main__":
    main()
