"""Properties of the rotation conversions and of refine_pose over generated
inputs (Hypothesis, derandomised and with bounded example counts, so every
run checks the same cases)."""

import numpy as np
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import trel
from conftest import K

PROPERTY = settings(max_examples=60, derandomize=True, deadline=None, database=None,
                    suppress_health_check=[HealthCheck.too_slow])
SLOW_PROPERTY = settings(PROPERTY, max_examples=25)

finite = st.floats(-1e3, 1e3, allow_nan=False, allow_infinity=False)
unit = st.floats(-1.0, 1.0, allow_nan=False, allow_infinity=False)
# Rotation vectors of angle up to just short of a half turn, where the vector
# of a rotation is unique.
rot_vecs = st.tuples(unit, unit, unit).map(np.array).filter(lambda r: np.linalg.norm(r) > 1e-6).map(
    lambda r: r / np.linalg.norm(r) * min(np.linalg.norm(r) * 3.0, 3.1))
quaternions = st.tuples(finite, finite, finite, finite).map(np.array).filter(lambda q: np.linalg.norm(q) > 1e-3)


def assert_rotation(R):
    np.testing.assert_allclose(R @ R.T, np.eye(3), atol=1e-12)
    assert abs(np.linalg.det(R) - 1.0) < 1e-12


@PROPERTY
@given(rot_vecs)
def test_rotation_vectors_survive_the_round_trips(r):
    R = trel.rot_vec_rad_to_rot_mat(r)
    assert_rotation(R)
    np.testing.assert_allclose(trel.rot_mat_to_rot_vec_rad(R), r, atol=1e-9)
    ang_axis = trel.rot_vec_to_ang_axis(r)
    np.testing.assert_allclose(trel.ang_axis_to_rot_vec(ang_axis), r, atol=1e-12)
    np.testing.assert_allclose(trel.ang_axis_rad_to_rot_mat(ang_axis), R, atol=1e-12)
    np.testing.assert_allclose(trel.rot_mat_to_ang_axis_rad(R), ang_axis, atol=1e-9)
    q = trel.rot_mat_to_quaternion(R)
    np.testing.assert_allclose(trel.quaternion_to_rot_mat(q), R, atol=1e-12)


@PROPERTY
@given(quaternions)
def test_a_quaternion_of_any_length_is_its_rotation(q):
    R = trel.quaternion_to_rot_mat(q)
    assert_rotation(R)
    back = trel.rot_mat_to_quaternion(R)
    unit_q = q / np.linalg.norm(q)
    unit_back = back / np.linalg.norm(back)
    # q and -q are one rotation.
    assert min(np.abs(unit_back - unit_q).max(), np.abs(unit_back + unit_q).max()) < 1e-9


@PROPERTY
@given(st.tuples(unit, unit, unit).map(lambda a: np.array(a) * 3.0))
def test_euler_angles_give_rotations_and_stacks_agree_with_singles(angles):
    R = trel.euler_angles_rad_to_rot_mat(angles)
    assert_rotation(R)
    stack = trel.euler_angles_rad_to_rot_mat(np.array([angles, -angles]))
    np.testing.assert_array_equal(stack[0], R)
    np.testing.assert_array_equal(stack[1], trel.euler_angles_rad_to_rot_mat(-angles))


def scene(seed, n):
    """A camera of a random pose over n points 3 to 7 units in front, noisy pixels."""
    rng = np.random.default_rng(seed)
    rot_vec = rng.uniform(-0.5, 0.5, 3)
    centre = rng.uniform(-1.0, 1.0, 3)
    R = trel.rot_vec_rad_to_rot_mat(rot_vec)
    camera = np.column_stack([rng.uniform(-2.0, 2.0, (n, 2)), rng.uniform(3.0, 7.0, n)])
    points = camera @ R.T + centre
    pixels = camera[:, :2] / camera[:, 2:] * 800.0 + [320.0, 240.0] + rng.normal(0.0, 0.5, (n, 2))
    start = np.concatenate([rot_vec + rng.uniform(-0.03, 0.03, 3), centre + rng.uniform(-0.1, 0.1, 3)])
    return points, pixels, start


REFINE = dict(max_iters=50, min_x_step=0.0, min_y_step=1e-14)


@SLOW_PROPERTY
@given(st.integers(0, 2**31), st.sampled_from([1e-4, 1e-2, 0.3, 10.0, 1e3, 1e5]), st.sampled_from(["squared", "huber"]))
def test_refine_pose_does_not_depend_on_the_unit_of_length(seed, scale, loss):
    points, pixels, start = scene(seed, 30)
    x, summary = trel.refine_pose(K, points, pixels, start, loss=loss, **REFINE)
    scaled_start = np.concatenate([start[:3], start[3:] * scale])
    x_scaled, summary_scaled = trel.refine_pose(K, points * scale, pixels, scaled_start, loss=loss, **REFINE)
    np.testing.assert_allclose(x_scaled[:3], x[:3], atol=1e-7)
    np.testing.assert_allclose(x_scaled[3:] / scale, x[3:], atol=1e-7)
    np.testing.assert_allclose(summary_scaled.final_rms, summary.final_rms, rtol=1e-6)


@SLOW_PROPERTY
@given(st.integers(0, 2**31), st.randoms(use_true_random=False))
def test_refine_pose_does_not_depend_on_the_order_of_the_points(seed, random):
    points, pixels, start = scene(seed, 30)
    order = list(range(30))
    random.shuffle(order)
    x, summary = trel.refine_pose(K, points, pixels, start, **REFINE)
    x_shuffled, shuffled = trel.refine_pose(K, points[order], pixels[order], start, **REFINE)
    np.testing.assert_allclose(x_shuffled, x, atol=1e-9)
    np.testing.assert_array_equal(shuffled.inliers, summary.inliers[order])
    np.testing.assert_allclose(shuffled.final_rms, summary.final_rms, rtol=1e-9)


# Hostile numbers: huge, tiny, zero, negative and repeated values.
hostile = st.one_of(st.floats(-1e300, 1e300, allow_nan=False, allow_infinity=False),
                    st.sampled_from([0.0, 1e-300, -1e-300, 1e154, 1e-154, 1.0, -1.0]))


@SLOW_PROPERTY
@given(st.integers(0, 2**31), st.lists(hostile, min_size=6, max_size=6), hostile,
       st.sampled_from([0, 1, 2, 3, -1]), st.sampled_from(["squared", "cauchy", "soft_l1"]))
def test_a_result_said_to_be_good_is_finite(seed, start, scale, rotation_code, loss):
    points, pixels, _ = scene(seed, 12)
    dims = {0: 6, 1: 7, 2: 7, 3: 6, -1: 6}[rotation_code]
    start = np.resize(np.array(start), dims)
    frames = [(points, pixels, start), (points * scale, pixels, start), (points, pixels * scale, start)]
    X, summaries = trel.refine_poses(K, frames, rotation_code=rotation_code, loss=loss, threads=1)
    for f, summary in enumerate(summaries):
        if summary.ok:
            assert np.isfinite(X[f]).all(), (f, X[f])
            assert np.isfinite(summary.final_rms) and np.isfinite(summary.final_error), (f, summary)
        else:
            assert np.isnan(X[f]).all() and summary.error
