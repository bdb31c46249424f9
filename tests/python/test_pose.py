"""refine_pose and upnp through the Python module."""

import threading
import time

import numpy as np
import pytest

import trel
from conftest import K, SLOW, Scene, slow_scene


@pytest.mark.parametrize(
    "code, bearing, loss",
    [(0, False, "squared"), (0, False, "huber"), (10, True, "cauchy"), (-2, False, "soft_l1")],
)
def test_refine_pose_recovers_the_pose(scene, code, bearing, loss):
    K_used = np.eye(3) if bearing else K
    observations = scene.camera_points if bearing else scene.pixels
    start = scene.truth + np.array([0.02, -0.01, 0.03, 0.1, -0.1, 0.2])
    x, summary = trel.refine_pose(K_used, scene.points, observations, start, rotation_code=code, loss=loss,
                                  max_iters=20)
    np.testing.assert_allclose(x, scene.truth, atol=1e-8)
    assert summary.loss == loss
    assert summary.stop_reason in ("max_iters", "min_x_step", "min_y_step")
    assert summary.final_rms < 1e-6 < summary.initial_rms
    assert summary.inliers.dtype == np.bool_ and summary.inliers.shape == (len(scene.points),)
    assert summary.inliers.all()
    assert summary.to_dict()["iterations"] == summary.iterations


def test_refine_pose_summary_marks_outliers_and_gives_covariance():
    scene = Scene(n=60)
    pixels = scene.pixels.copy()
    pixels[:5] += 40.0
    rng = np.random.default_rng(7)
    pixels[5:] += rng.normal(0.0, 0.5, pixels[5:].shape)
    x, summary = trel.refine_pose(K, scene.points, pixels, scene.truth, loss="huber", loss_scale=2.0,
                                  max_iters=30)
    assert not summary.inliers[:5].any() and summary.inliers[5:].mean() > 0.9
    assert summary.covariance.shape == (6, 6) and summary.covariance_rank == 6
    np.testing.assert_allclose(summary.covariance, summary.covariance.T, rtol=1e-9, atol=0)
    assert np.all(np.linalg.eigvalsh(summary.covariance) > 0)
    _, none = trel.refine_pose(K, scene.points, pixels, scene.truth, covariance=False)
    assert none.covariance is None


def test_refine_pose_weights_and_options_reach_the_solver(scene):
    pixels = scene.pixels.copy()
    pixels[0] += 100.0
    weights = np.ones(2 * len(scene.points))
    weights[:2] = 0.0
    x, _ = trel.refine_pose(K, scene.points, pixels, scene.truth + 0.01, weights=weights, max_iters=20)
    np.testing.assert_allclose(x, scene.truth, atol=1e-8)
    _, one = trel.refine_pose(K, scene.points, scene.pixels, scene.truth + 0.01, max_iters=1)
    assert one.iterations == 1
    x_fd, _ = trel.refine_pose(K, scene.points, scene.pixels, scene.truth + 0.01, finite_differences=True,
                               max_iters=20)
    np.testing.assert_allclose(x_fd, scene.truth, atol=1e-6)


@pytest.mark.parametrize(
    "change, error, words",
    [
        (dict(K=np.eye(2)), ValueError, "K must be a 3 x 3 array of numbers, got shape (2, 2)"),
        (dict(K=np.eye(3, dtype=np.complex128)), TypeError, "K must be a 3 x 3 array of numbers, got dtype complex128"),
        (dict(points=np.zeros((40, 2))), ValueError, "points must be an N x 3 array of numbers, got shape (40, 2)"),
        (dict(observations=np.zeros((39, 2))), ValueError, "observations must be a 40 x 2 array of numbers, got shape (39, 2)"),
        (dict(observations=np.zeros((40, 2), dtype=bool)), TypeError, "observations must be a 40 x 2 array of numbers, got dtype bool"),
        (dict(start="abc"), TypeError, "start must be"),
        (dict(loss="l2"), ValueError, "loss must be one of"),
        (dict(rotation_code=7), trel.Error, "Rotation type must be from"),
        (dict(start=np.zeros(5)), trel.Error, "the start should hold 6 values"),
        (dict(weights=np.ones(3)), trel.Error, "weights should be empty or hold one value per equation"),
        (dict(loss_scale=-1.0), trel.Error, "loss_scale should be a finite positive number"),
    ],
)
def test_refine_pose_refuses_bad_input(scene, change, error, words):
    args = dict(K=K, points=scene.points, observations=scene.pixels, start=scene.truth)
    options = {k: change.pop(k) for k in list(change) if k not in args}
    args.update(change)
    with pytest.raises(error) as raised:
        trel.refine_pose(args["K"], args["points"], args["observations"], args["start"], **options)
    assert words in str(raised.value)


def test_library_errors_are_runtime_errors():
    assert issubclass(trel.Error, RuntimeError)


def test_refine_pose_takes_lists_and_strided_arrays(scene):
    strided = np.asfortranarray(scene.points)
    x, _ = trel.refine_pose(K.tolist(), strided, scene.pixels, list(scene.truth + 0.01), max_iters=20)
    np.testing.assert_allclose(x, scene.truth, atol=1e-8)


def test_refine_pose_releases_the_interpreter_lock():
    # While a long refinement runs in one thread, a second Python thread must
    # keep running: it could not if the call held the lock.
    scene = slow_scene(0.5)
    start = scene.truth + 0.05
    ticks = []
    span = []
    stop = threading.Event()

    def monitor():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.001)

    def work():
        begin = time.perf_counter()
        trel.refine_pose(K, scene.points, scene.pixels, start, **SLOW)
        span.extend([begin, time.perf_counter()])

    watcher = threading.Thread(target=monitor)
    watcher.start()
    workers = [threading.Thread(target=work) for _ in range(2)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    stop.set()
    watcher.join()
    first, second = (span[0], span[1]), (span[2], span[3])
    inside = [t for t in ticks if first[0] < t < first[1]]
    assert len(inside) >= 5, "no Python thread ran during refine_pose"
    assert max(first[0], second[0]) < min(first[1], second[1]), "the two calls did not overlap"


def test_upnp_finds_the_pose(scene):
    R, t = trel.upnp(scene.pixels, scene.points, K)
    np.testing.assert_allclose(R, scene.R, atol=1e-8)
    np.testing.assert_allclose(t, scene.centre, atol=1e-8)
    candidates = trel.upnp_candidates(scene.pixels, scene.points, K)
    assert candidates and all(Rc.shape == (3, 3) and tc.shape == (3,) for Rc, tc in candidates)
    R2, t2 = trel.upnp(scene.pixels, scene.points, K, R=scene.R, t=scene.centre)
    np.testing.assert_allclose(t2, scene.centre, atol=1e-8)
    with pytest.raises(ValueError, match=r"points_3d must be a 40 x 3 array of numbers, got shape \(39, 3\)"):
        trel.upnp(scene.pixels, scene.points[:-1], K)
    with pytest.raises(ValueError, match="R and t must be given together"):
        trel.upnp(scene.pixels, scene.points, K, R=scene.R)
    with pytest.raises(trel.Error):
        trel.upnp(scene.pixels[:2], scene.points[:2], K)
