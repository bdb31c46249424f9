"""A seeded pinhole scene shared by the tests of the Python module."""

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
