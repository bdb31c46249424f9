"""A seeded pinhole scene shared by the tests of the Python module."""

import time

import numpy as np
import pytest

import trel

K = np.array([[800.0, 0.0, 320.0], [0.0, 800.0, 240.0], [0.0, 0.0, 1.0]])


class Scene:
    """N world points seen by a camera of orientation R (camera to world axes)
    and centre t: camera-frame points R^T (X - t) and their pixels."""

    def __init__(self, n=40, seed=3, rot_vec=(0.1, -0.2, 0.05), centre=(0.3, -0.1, -5.0)):
        rng = np.random.default_rng(seed)
        self.rot_vec = np.array(rot_vec)
        self.centre = np.array(centre)
        self.R = trel.rot_vec_rad_to_rot_mat(self.rot_vec)
        self.points = rng.uniform(-1.0, 1.0, (n, 3))
        self.camera_points = (self.points - self.centre) @ self.R
        homogeneous = self.camera_points @ K.T
        self.pixels = homogeneous[:, :2] / homogeneous[:, 2:]
        self.truth = np.concatenate([self.rot_vec, self.centre])


@pytest.fixture
def scene():
    return Scene()


# Keywords of a deliberately slow refinement: the kernel on central differences.
SLOW = dict(finite_differences=True, max_iters=30, min_y_step=-1.0)
_slow_scenes = {}


def slow_scene(seconds):
    """A Scene of so many points that refine_pose(..., **SLOW) from truth + 0.05
    takes at least `seconds` here (measured, so that tests of threads and
    interrupts keep their margins on any machine)."""
    if seconds in _slow_scenes:
        return _slow_scenes[seconds]
    n = 1000
    while True:
        scene = Scene(n=n)
        begin = time.perf_counter()
        trel.refine_pose(K, scene.points, scene.pixels, scene.truth + 0.05, covariance=False, **SLOW)
        took = time.perf_counter() - begin
        if took >= seconds or n >= 4_000_000:
            _slow_scenes[seconds] = scene
            return scene
        n = min(4_000_000, int(n * max(2.0, 1.5 * seconds / max(took, 1e-4))))
