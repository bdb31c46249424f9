"""estimate_pose and the batch refinement refine_poses through the Python module."""

import os
import signal
import threading
import time

import numpy as np
import pytest

import trel
from conftest import K, SLOW, Scene

# Frames slow enough (about 10 ms each) for progress reports and cancellation.
def slow_frames(count):
    # Frames of 1000 points on central differences: about 0.5 ms each here.
    scene = Scene(n=1000)
    return [(scene.points, scene.pixels, scene.truth + 0.05)] * count


@pytest.mark.parametrize("bearing", [False, True])
def test_estimate_pose_finds_the_pose_among_outliers(bearing):
    scene = Scene(n=60)
    rng = np.random.default_rng(5)
    pixels = scene.pixels.copy()
    pixels[:18] += rng.uniform(40.0, 120.0, (18, 2)) * rng.choice([-1.0, 1.0], (18, 2))
    if bearing:
        rays = np.column_stack([(pixels - K[:2, 2]) / K[0, 0], np.ones(len(pixels))])
        args = dict(K=None, observations=rays, bearing=True, threshold=4.0 / 800.0)
    else:
        args = dict(K=K, observations=pixels)
    estimate = trel.estimate_pose(args.pop("K"), scene.points, args.pop("observations"), seed=3, **args)
    np.testing.assert_allclose(estimate.x, scene.truth, atol=1e-8)
    np.testing.assert_allclose(estimate.R, scene.R, atol=1e-8)
    np.testing.assert_allclose(estimate.centre, scene.centre, atol=1e-8)
    expected = np.arange(60) >= 18
    assert estimate.inliers.dtype == np.bool_ and (estimate.inliers == expected).all()
    assert estimate.num_inliers == 42 and estimate.iterations >= 1
    assert (estimate.summary.inliers == estimate.inliers).all() and estimate.summary.loss == "cauchy"
    assert estimate.to_dict()["summary"]["loss"] == "cauchy"


@pytest.mark.parametrize(
    "change, error, words",
    [
        (dict(points=np.zeros((3, 3)), observations=np.zeros((3, 2))), trel.Error, "4"),
        (dict(observations=np.zeros((40, 3))), ValueError, "observations must be a 40 x 2 array of numbers, got shape (40, 3)"),
        (dict(points=np.full((40, 3), "1")), TypeError, "points must be an N x 3 array of numbers, got dtype <U1"),
        (dict(K=None), TypeError, "K must be"),
        (dict(seed=-1), ValueError, "seed must be in [0, 2**32)"),
        (dict(loss="l1"), ValueError, "loss must be one of"),
    ],
)
def test_estimate_pose_refuses_bad_input(scene, change, error, words):
    args = dict(K=K, points=scene.points, observations=scene.pixels)
    args.update(change)
    with pytest.raises(error) as raised:
        trel.estimate_pose(args.pop("K"), args.pop("points"), args.pop("observations"), **args)
    assert words in str(raised.value)


@pytest.mark.parametrize("stacked", [False, True])
def test_refine_poses_matches_refine_pose_bit_for_bit(stacked):
    scenes = [Scene(n=30, seed=s, centre=(0.1 * s, 0.0, -5.0)) for s in range(12)]
    rng = np.random.default_rng(11)
    starts = np.array([s.truth + rng.uniform(-0.05, 0.05, 6) for s in scenes])
    pixels = np.array([s.pixels + rng.normal(0.0, 0.5, s.pixels.shape) for s in scenes])
    options = dict(loss="huber", loss_scale=2.0, max_iters=15)
    if stacked:
        frames = (np.array([s.points for s in scenes]), pixels, starts)
    else:
        starts = list(starts)
        starts[4] = starts[4][:5]  # a bad frame: the others go on
        frames = [(s.points, p, x0) for s, p, x0 in zip(scenes, pixels, starts)]
        frames[7] = dict(points=scenes[7].points, observations=pixels[7], start=starts[7], K=K * 1.0)
    X, summaries = trel.refine_poses(K, frames, threads=2, **options)
    assert X.shape == (12, 6) and len(summaries) == 12
    for f, (s, summary) in enumerate(zip(scenes, summaries)):
        if not stacked and f == 4:
            assert not summary.ok and "6 values" in summary.error and np.isnan(X[4]).all()
            continue
        x, single = trel.refine_pose(K, s.points, pixels[f], starts[f], **options)
        assert summary.ok and summary.error == ""
        assert np.array_equal(X[f], x)
        assert np.array_equal(summary.covariance, single.covariance)
        assert np.array_equal(summary.inliers, single.inliers)
        assert summary.final_rms == single.final_rms and summary.iterations == single.iterations


def test_refine_poses_reports_progress_and_cancels():
    calls = []
    X, summaries = trel.refine_poses(K, slow_frames(30), threads=2, progress=lambda d, t: calls.append((d, t)),
                                     progress_interval=0.0, **SLOW)
    assert calls[-1] == (30, 30) and all(ok for ok in (s.ok for s in summaries))
    assert [d for d, _ in calls] == sorted(d for d, _ in calls)

    X, summaries = trel.refine_poses(K, slow_frames(400), threads=1, progress=lambda d, t: False, **SLOW)
    cancelled = [s for s in summaries if not s.ok]
    assert len(cancelled) > 300 and all(s.error == "cancelled" for s in cancelled)
    assert np.isnan(X[[not s.ok for s in summaries]]).all()


def test_refine_poses_raises_the_callback_exception_after_the_batch():
    calls = []

    def progress(done, total):
        calls.append(done)
        raise ZeroDivisionError("from the callback")

    with pytest.raises(ZeroDivisionError, match="from the callback"):
        trel.refine_poses(K, slow_frames(400), threads=1, progress=progress, **SLOW)
    assert len(calls) == 1 and calls[0] < 400, "the exception did not cancel the batch"


@pytest.mark.skipif(threading.current_thread() is not threading.main_thread(), reason="signals need the main thread")
def test_ctrl_c_cancels_refine_poses():
    timer = threading.Timer(0.3, lambda: os.kill(os.getpid(), signal.SIGINT))
    begin = time.perf_counter()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        trel.refine_poses(K, slow_frames(10000), threads=1, **SLOW)  # several seconds uncancelled
    timer.join()
    assert time.perf_counter() - begin < 5.0


def test_refine_poses_releases_the_interpreter_lock():
    # Two Python threads each run a batch of about 1 s on one worker: with the
    # lock held they could only run one after the other.
    span = {}

    def work(name):
        begin = time.perf_counter()
        trel.refine_poses(K, slow_frames(2000), threads=1, **SLOW)
        span[name] = (begin, time.perf_counter())

    threads = [threading.Thread(target=work, args=(name,)) for name in "ab"]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    (a0, a1), (b0, b1) = span["a"], span["b"]
    assert max(a0, b0) < min(a1, b1) - 0.2, "the two calls did not overlap"


@pytest.mark.parametrize(
    "call, error, words",
    [
        (lambda s: trel.refine_poses(K, 5), TypeError, "frames must be a list"),
        (lambda s: trel.refine_poses(K, [(s.points, s.pixels)]), ValueError, "frames[0] must be (points"),
        (lambda s: trel.refine_poses(K, [(s.points, s.pixels, s.truth), (s.points, s.pixels[:-1], s.truth)]),
         ValueError, "frames[1].observations must be a 40 x 2 array of numbers, got shape (39, 2)"),
        (lambda s: trel.refine_poses(K, [dict(points=s.points, pixels=s.pixels, start=s.truth)]), ValueError,
         "unknown key 'pixels'"),
        (lambda s: trel.refine_poses(K, (s.points[None], s.pixels[None], np.zeros((2, 6)))), ValueError,
         "starts must be a 1 x N array of numbers, got shape (2, 6)"),
        (lambda s: trel.refine_poses(K, [(s.points.astype(object), s.pixels, s.truth)]), TypeError,
         "frames[0].points must be an N x 3 array of numbers, got dtype object"),
        (lambda s: trel.refine_poses(None, [(s.points, s.pixels, s.truth)]), ValueError, "K is None"),
        (lambda s: trel.refine_poses(K, [], threads=-1), ValueError, "threads should be from 0 (the number of cores) to 4096, instead got -1"),
        (lambda s: trel.refine_poses(K, [], progress=3), TypeError, "progress must be a callable"),
        (lambda s: trel.refine_poses(K, [], loss="l2"), ValueError, "loss must be one of"),
    ],
)
def test_refine_poses_refuses_bad_input(scene, call, error, words):
    with pytest.raises(error) as raised:
        call(scene)
    assert words in str(raised.value)


def fast_frames(count):
    scene = Scene(n=8)
    return [(scene.points, scene.pixels, scene.truth + 0.01)] * count


@pytest.mark.parametrize("answer", [False, 0, np.False_, 0.0, "", np.bool_(False)], ids=repr)
def test_a_false_answer_at_the_first_report_cancels_every_frame(answer):
    # The first report comes before any frame runs, and the batch waits for it.
    for _ in range(20):
        calls = []
        X, summaries = trel.refine_poses(K, fast_frames(50), threads=2,
                                         progress=lambda d, t: calls.append((d, t)) or answer)
        assert calls[0] == (0, 50)
        assert summaries.errors == ["cancelled"] * 50 and np.isnan(X).all()


@pytest.mark.parametrize("answer", [None, True, 1, np.True_, "go on"], ids=repr)
def test_other_answers_let_the_batch_run(answer):
    calls = []
    X, summaries = trel.refine_poses(K, fast_frames(50), threads=2, progress_interval=0.0,
                                     progress=lambda d, t: calls.append((d, t)) or answer)
    assert summaries.ok.all() and calls[0] == (0, 50) and calls[-1] == (50, 50)


def test_an_answer_without_a_truth_value_is_raised_and_cancels():
    with pytest.raises(ValueError, match="truth value of an array"):
        trel.refine_poses(K, fast_frames(50), progress=lambda d, t: np.array([True, False]))


class Interrupted(Exception):
    pass


def interrupted_while_converting(frames, K_given):
    """refine_poses interrupted by a signal 20 ms in: the call must raise
    Interrupted from within the conversion of the frames, before it reaches
    K_given, which it would refuse."""
    def handler(signum, stack):
        raise Interrupted()

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.02)
        with pytest.raises(Interrupted) as raised:
            trel.refine_poses(K_given, frames, threads=1)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0.0)
        signal.signal(signal.SIGALRM, previous)
    # Raised where the signal was seen, not after a refusal of K_given.
    assert raised.value.__context__ is None, raised.value.__context__


@pytest.mark.skipif(threading.current_thread() is not threading.main_thread(), reason="signals need the main thread")
def test_a_signal_is_seen_while_the_frames_are_converted():
    # A conversion of about a second: 200000 listed frames. (Stacked float64
    # arrays are viewed where they lie: there is no conversion to interrupt.)
    scene = Scene(n=8)
    frames = [(scene.points, scene.pixels, scene.truth)] * 200000
    interrupted_while_converting(frames, np.eye(2))


def test_a_keyboard_interrupt_in_an_array_like_is_not_turned_into_a_refusal():
    class Interrupting:
        def __array__(self, dtype=None):
            raise KeyboardInterrupt()

    scene = Scene(n=8)
    with pytest.raises(KeyboardInterrupt):
        trel.refine_poses(K, [(scene.points, scene.pixels, scene.truth), (Interrupting(), scene.pixels, scene.truth)])


def test_the_summary_says_when_there_was_nothing_to_fit():
    scene = Scene(n=8)
    x, summary = trel.refine_pose(K, scene.points, scene.pixels, scene.truth + 0.01, weights=np.zeros(16))
    assert summary.nothing_to_fit and summary.to_dict()["nothing_to_fit"]
    x, summary = trel.refine_pose(K, scene.points, scene.pixels, scene.truth + 0.01)
    assert not summary.nothing_to_fit
    X, summaries = trel.refine_poses(K, [(scene.points, scene.pixels, scene.truth, np.zeros(16))])
    assert summaries[0].nothing_to_fit


@pytest.mark.skipif(threading.current_thread() is not threading.main_thread(), reason="signals need the main thread")
def test_a_signal_stops_a_long_estimate_pose():
    # At least 2**31 - 1 samples: most of an hour unless the signal stops it.
    scene = Scene(n=30)

    def handler(signum, stack):
        raise Interrupted()

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.2)
        with pytest.raises(Interrupted):
            trel.estimate_pose(K, scene.points, scene.pixels, min_iterations=2**31 - 1, max_iterations=2**31 - 1)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0.0)
        signal.signal(signal.SIGALRM, previous)
    # The module is usable again at once.
    assert trel.estimate_pose(K, scene.points, scene.pixels).num_inliers == 30


@pytest.mark.parametrize(
    "start_change, faces, in_front, covariance",
    [
        (np.zeros(6), True, 40, True),
        # Turned half around the camera's y axis: every point behind it.
        (np.array([0.0, np.pi, 0.0, 0.0, 0.0, 0.0]), False, 0, False),
    ],
)
def test_the_summary_says_how_many_points_lie_in_front(scene, start_change, faces, in_front, covariance):
    start = scene.truth + start_change
    x, summary = trel.refine_pose(K, scene.points, scene.pixels, start, max_iters=0 if not faces else 10)
    assert summary.faces_points == faces and summary.points_in_front == in_front
    assert (summary.covariance is not None) == covariance
    assert (summary.covariance_reason == "") == covariance
    d = summary.to_dict()
    assert (d["faces_points"], d["points_in_front"], d["covariance_reason"]) == (
        faces, in_front, summary.covariance_reason)
