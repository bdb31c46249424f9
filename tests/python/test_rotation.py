"""The rotation conversions over single rotations and stacks."""

import numpy as np
import pytest

import trel


def rz(a):
    c, s = np.cos(a), np.sin(a)
    return np.array([[c, -s, 0], [s, c, 0], [0, 0, 1]])


def rx(a):
    c, s = np.cos(a), np.sin(a)
    return np.array([[1, 0, 0], [0, c, -s], [0, s, c]])


def ry(a):
    c, s = np.cos(a), np.sin(a)
    return np.array([[c, 0, s], [0, 1, 0], [-s, 0, c]])


def rodrigues(r):
    angle = np.linalg.norm(r)
    k = r / angle
    K = np.array([[0, -k[2], k[1]], [k[2], 0, -k[0]], [-k[1], k[0], 0]])
    return np.eye(3) + np.sin(angle) * K + (1 - np.cos(angle)) * K @ K


ROT_VECS = np.random.default_rng(5).uniform(-1.5, 1.5, (8, 3))


def test_every_form_agrees_with_an_independent_reference():
    for r in ROT_VECS:
        R = rodrigues(r)
        angle = np.linalg.norm(r)
        axis = r / angle
        q = np.concatenate([axis * np.sin(angle / 2), [np.cos(angle / 2)]])
        np.testing.assert_allclose(trel.rot_vec_rad_to_rot_mat(r), R, atol=1e-12)
        np.testing.assert_allclose(trel.ang_axis_rad_to_rot_mat(np.append(axis, angle)), R, atol=1e-12)
        np.testing.assert_allclose(trel.quaternion_to_rot_mat(3.0 * q), R, atol=1e-12)
        q_back = trel.rot_mat_to_quaternion(R)
        np.testing.assert_allclose(q_back / np.linalg.norm(q_back) * np.sign(q_back[3]), q, atol=1e-12)
        np.testing.assert_allclose(trel.rot_mat_to_rot_vec_rad(R), r, atol=1e-10)
        np.testing.assert_allclose(trel.rot_mat_to_ang_axis_rad(R), np.append(axis, angle), atol=1e-10)
        np.testing.assert_allclose(trel.rot_vec_to_ang_axis(r), np.append(axis, angle), atol=1e-12)
        np.testing.assert_allclose(trel.ang_axis_to_rot_vec(np.append(5 * axis, angle)), r, atol=1e-12)
        np.testing.assert_allclose(trel.euler_angles_rad_to_rot_mat(r), ry(r[2]) @ rx(r[1]) @ rz(r[0]), atol=1e-12)


def test_stacks_give_the_single_results_row_by_row():
    mats = trel.rot_vec_rad_to_rot_mat(ROT_VECS)
    assert mats.shape == (len(ROT_VECS), 3, 3)
    for r, R in zip(ROT_VECS, mats):
        np.testing.assert_array_equal(R, trel.rot_vec_rad_to_rot_mat(r))
    np.testing.assert_allclose(trel.rot_mat_to_rot_vec_rad(mats), ROT_VECS, atol=1e-10)
    assert trel.rot_mat_to_quaternion(mats).shape == (len(ROT_VECS), 4)
    assert trel.rot_vec_rad_to_rot_mat(np.zeros((0, 3))).shape == (0, 3, 3)


def test_special_rotations_and_inputs_left_alone():
    np.testing.assert_array_equal(trel.rot_mat_to_ang_axis_rad(np.eye(3)), [0, 1, 0, 0])
    np.testing.assert_array_equal(trel.rot_vec_rad_to_rot_mat(np.zeros(3)), np.eye(3))
    half_turn = trel.rot_mat_to_ang_axis_rad(rodrigues(np.array([0.0, 0.0, np.pi])))
    np.testing.assert_allclose(half_turn, [0, 0, 1, np.pi], atol=1e-12)
    ang_axis = np.array([0.0, 3.0, 4.0, 0.5])
    np.testing.assert_allclose(trel.enforce_ang_axis(ang_axis), [0, 0.6, 0.8, 0.5])
    np.testing.assert_array_equal(ang_axis, [0.0, 3.0, 4.0, 0.5])


@pytest.mark.parametrize(
    "function, value, error, words",
    [
        (trel.rot_vec_rad_to_rot_mat, np.zeros(4), ValueError, "rot_vec must be a vector of 3 numbers or an N x 3 array of numbers, got shape (4,)"),
        (trel.rot_mat_to_quaternion, np.zeros((3, 4)), ValueError, "rot_mat must be a 3 x 3 array of numbers or an N x 3 x 3 array of numbers, got shape (3, 4)"),
        (trel.quaternion_to_rot_mat, np.zeros(4, dtype=np.complex64), TypeError, "got dtype complex64"),
        (trel.euler_angles_rad_to_rot_mat, None, TypeError, "angles must be a vector of 3 numbers or an N x 3 array of numbers, got a NoneType"),
        (trel.ang_axis_to_rot_vec, [[1.0, 2.0], [3.0]], TypeError, "got a list that is not an array of numbers"),
    ],
)
def test_wrong_shapes_and_dtypes_are_refused(function, value, error, words):
    with pytest.raises(error) as raised:
        function(value)
    assert words in str(raised.value)
