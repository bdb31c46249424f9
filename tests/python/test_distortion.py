"""Lens distortion through the Python module: trel.CameraModel, the distortion=
and fisheye= keywords of the pose jobs, checked against OpenCV's own model."""

import numpy as np
import pytest

import trel
from conftest import K

cv2 = pytest.importorskip("cv2")

# OpenCV's coefficient vectors of each length, and a fisheye lens.
LENSES = [
    pytest.param(np.array([-0.28, 0.07, 1e-3, -5e-4]), False, id="rt4"),
    pytest.param(np.array([-0.28, 0.07, 1e-3, -5e-4, 0.01]), False, id="rt5"),
    pytest.param(np.array([-0.28, 0.07, 1e-3, -5e-4, 0.01, 0.02, -0.01, 0.005]), False, id="rt8"),
    pytest.param(np.array([0.05, -0.01, 0.002, -0.0005]), True, id="fisheye"),
]


class Lens_scene:
    """N world points in front of a camera, their observed (distorted) pixels
    by OpenCV's projection, and the pose in OpenCV's (rvec, tvec) and in
    refine_pose's code 0 (rotation vector of camera-to-world, centre)."""

    def __init__(self, distortion, fisheye, n=60, seed=7, noise=0.0):
        rng = np.random.default_rng(seed)
        self.rvec = np.array([0.12, -0.25, 0.07])
        self.tvec = np.array([0.2, -0.1, 4.0])
        R_world_to_cam = cv2.Rodrigues(self.rvec)[0]
        camera_points = rng.uniform([-1.8, -1.4, 2.5], [1.8, 1.4, 6.0], (n, 3))
        self.points = (camera_points - self.tvec) @ R_world_to_cam  # R^T (c - t), row by row
        self.pixels = project(self.points, self.rvec, self.tvec, distortion, fisheye)
        self.pixels += rng.normal(0.0, noise, self.pixels.shape)
        self.truth = np.concatenate([-self.rvec, -R_world_to_cam.T @ self.tvec])


def project(points, rvec, tvec, distortion, fisheye):
    if fisheye:
        out, _ = cv2.fisheye.projectPoints(points.reshape(-1, 1, 3), rvec, tvec, K, distortion)
    else:
        out, _ = cv2.projectPoints(points, rvec, tvec, K, distortion)
    return out.reshape(-1, 2)


@pytest.mark.parametrize("distortion, fisheye", LENSES)
def test_refine_pose_reaches_the_pose_of_the_observed_pixels(distortion, fisheye):
    scene = Lens_scene(distortion, fisheye)
    start = scene.truth + np.array([0.02, -0.03, 0.01, 0.05, -0.04, 0.1])
    x, summary = trel.refine_pose(K, scene.points, scene.pixels, start, distortion=distortion, fisheye=fisheye,
                                  max_iters=30)
    np.testing.assert_allclose(x, scene.truth, atol=1e-8)
    assert summary.final_rms < 1e-6 and summary.covariance is not None
    # The same lens without it is another cost: the pinhole misses the pose.
    x_pinhole, _ = trel.refine_pose(K, scene.points, scene.pixels, start, max_iters=30)
    assert np.abs(x_pinhole - scene.truth).max() > 1e-3


@pytest.mark.parametrize("distortion, fisheye", LENSES)
def test_estimate_pose_with_the_lens_finds_the_pose_and_the_outliers(distortion, fisheye):
    scene = Lens_scene(distortion, fisheye, n=80)
    rng = np.random.default_rng(2)
    pixels = scene.pixels.copy()
    pixels[:20] += rng.uniform(30.0, 90.0, (20, 2)) * rng.choice([-1.0, 1.0], (20, 2))
    estimate = trel.estimate_pose(K, scene.points, pixels, distortion=distortion, fisheye=fisheye, seed=1)
    np.testing.assert_allclose(estimate.x, scene.truth, atol=1e-7)
    assert (estimate.inliers == (np.arange(80) >= 20)).all()


@pytest.mark.parametrize("distortion, fisheye", LENSES)
def test_a_camera_model_is_the_keywords_and_the_batch_is_refine_pose(distortion, fisheye):
    scenes = [Lens_scene(distortion, fisheye, n=30, seed=s, noise=0.3) for s in range(5)]
    start = scenes[0].truth + 0.02
    camera = trel.CameraModel(K, distortion, fisheye=fisheye)
    frames = [(s.points, s.pixels, start) for s in scenes]
    frames[3] = dict(points=scenes[3].points, observations=scenes[3].pixels, start=start, K=K * 1.0)
    X, summaries = trel.refine_poses(camera, frames, threads=2)
    X_keywords, _ = trel.refine_poses(K, frames, threads=1, distortion=distortion, fisheye=fisheye)
    stacked = tuple(np.array([f[i] for f in [(s.points, s.pixels, start) for s in scenes]]) for i in range(3))
    X_stacked, _ = trel.refine_poses(K, stacked, distortion=distortion, fisheye=fisheye)
    assert summaries.ok.all()
    for f, s in enumerate(scenes):
        x, _ = trel.refine_pose(K, s.points, s.pixels, start, distortion=distortion, fisheye=fisheye)
        x_model, _ = trel.refine_pose(camera, s.points, s.pixels, start)
        assert (X[f] == x).all() and (X_keywords[f] == x).all() and (X_stacked[f] == x).all()
        assert (x_model == x).all()


def test_a_pinhole_camera_model_gives_what_K_gives(scene):
    start = scene.truth + 0.01
    x, summary = trel.refine_pose(K, scene.points, scene.pixels, start)
    for camera in (trel.CameraModel(K), trel.CameraModel(K, np.zeros(5))):
        x_model, s = trel.refine_pose(camera, scene.points, scene.pixels, start)
        assert (x_model == x).all() and s.final_rms == summary.final_rms
    estimate = trel.estimate_pose(trel.CameraModel(K), scene.points, scene.pixels)
    assert (estimate.x == trel.estimate_pose(K, scene.points, scene.pixels).x).all()


@pytest.mark.parametrize("shape", [(5,), (5, 1), (1, 5)])
def test_the_camera_model_keeps_what_it_was_given_in_cv2s_shapes(shape):
    coefficients = np.array([-0.2, 0.05, 1e-3, 2e-3, 0.01])
    camera = trel.CameraModel(K.tolist(), coefficients.reshape(shape))
    assert (camera.K == K).all() and (camera.distortion == coefficients).all() and not camera.fisheye
    fisheye = trel.CameraModel(K, [0.1, 0.0, 0.0, 0.0], fisheye=True)
    assert fisheye.fisheye and fisheye.distortion.shape == (4,)
    assert trel.CameraModel(K).distortion.shape == (0,)
    assert "fisheye=True" in repr(fisheye)


@pytest.mark.parametrize(
    "make, error, words",
    [
        (lambda: trel.CameraModel(K, np.zeros(3)), trel.Error, "3"),
        (lambda: trel.CameraModel(K, np.zeros(6)), trel.Error, "6"),
        (lambda: trel.CameraModel(K, np.zeros(5), fisheye=True), trel.Error, "5"),
        (lambda: trel.CameraModel(K, [0.1, np.nan, 0.0, 0.0]), trel.Error, "finite"),
        (lambda: trel.CameraModel(K, np.zeros((2, 4))), ValueError, "distortion must be"),
        (lambda: trel.CameraModel(np.eye(2)), ValueError, "K must be a 3 x 3 array"),
        (lambda: trel.refine_pose(K, np.zeros((6, 3)), np.zeros((6, 2)), np.zeros(6), distortion=np.zeros(7)),
         trel.Error, "7"),
        (lambda: trel.refine_pose(trel.CameraModel(K), np.zeros((6, 3)), np.zeros((6, 2)), np.zeros(6),
                                  distortion=np.zeros(5)), ValueError, "must not be given with a CameraModel"),
        (lambda: trel.estimate_pose(trel.CameraModel(K), np.zeros((6, 3)), np.zeros((6, 2)), fisheye=True),
         ValueError, "must not be given with a CameraModel"),
        (lambda: trel.refine_poses(trel.CameraModel(K), [], distortion=np.zeros(4)), ValueError,
         "must not be given with a CameraModel"),
    ],
)
def test_bad_lenses_are_refused(make, error, words):
    with pytest.raises(error) as raised:
        make()
    assert words in str(raised.value)


def write_calibration(path, nodes):
    storage = cv2.FileStorage(str(path), cv2.FILE_STORAGE_WRITE)
    for name, value in nodes.items():
        storage.write(name, value)
    storage.release()


@pytest.mark.parametrize("suffix", [".yml", ".xml"])
def test_a_camera_model_is_read_from_opencvs_calibration_file(tmp_path, suffix):
    coefficients = np.array([[-0.27, 0.09, 1e-3, -2e-3, 0.0]])
    path = tmp_path / ("camera" + suffix)
    write_calibration(path, dict(camera_matrix=K, distortion_coefficients=coefficients))
    camera = trel.CameraModel.from_file(str(path))
    assert (camera.K == K).all() and (camera.distortion == coefficients.ravel()).all() and not camera.fisheye
    broken = tmp_path / ("broken" + suffix)
    write_calibration(broken, dict(camera_matrix=K))
    with pytest.raises(trel.Error) as raised:
        trel.CameraModel.from_file(str(broken))
    assert "distortion_coefficients" in str(raised.value) and "broken" in str(raised.value)
