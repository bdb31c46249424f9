"""How the module takes numpy's array-likes and how it reports the library's
failures."""

import tracemalloc

import numpy as np
import pytest

import trel
from conftest import K, Scene

SCENE = Scene()


def fortran(a):
    return np.asfortranarray(a)


def strided(a):
    """The same values as a view with gaps between them."""
    wide = np.zeros(a.shape[:-1] + (2 * a.shape[-1],))
    wide[..., ::2] = a
    return wide[..., ::2]


# Every dtype and layout of numbers is taken; the result is that of float64.
@pytest.mark.parametrize(
    "name, convert",
    [
        ("float64", lambda a: a),
        ("float32 K", lambda a: a),
        ("int64", lambda a: np.rint(a).astype(np.int64)),
        ("int16", lambda a: np.rint(a).astype(np.int16)),
        ("uint32", lambda a: np.rint(a).astype(np.uint32) if (a >= 0).all() else a),
        ("list", lambda a: a.tolist()),
        ("tuple of tuples", lambda a: tuple(map(tuple, a))),
        ("Fortran order", fortran),
        ("strided view", strided),
        ("reversed view", lambda a: a[::-1][::-1]),
        ("read-only", lambda a: np.require(a, requirements="C").view()),
    ],
)
def test_every_array_like_of_numbers_is_taken_as_float64(name, convert):
    # Whole-number pixels and points keep the integer dtypes exact.
    points = np.rint(SCENE.points * 100.0)
    pixels = np.rint(SCENE.pixels)
    start = SCENE.truth + 0.01
    K_in = K.astype(np.float32) if name == "float32 K" else convert(K)
    expected, _ = trel.refine_pose(K, points, pixels, start)
    x, summary = trel.refine_pose(K_in, convert(points), convert(pixels), start)
    np.testing.assert_array_equal(x, expected)
    assert x.dtype == np.float64


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: trel.refine_pose(K, np.zeros((5, 2)), np.zeros((5, 2)), np.zeros(6)), ValueError,
         "points must be an N x 3 array of numbers, got shape (5, 2)"),
        (lambda: trel.refine_pose(K, np.zeros(3), np.zeros((1, 2)), np.zeros(6)), ValueError,
         "points must be an N x 3 array of numbers, got shape (3,)"),
        (lambda: trel.refine_pose(np.eye(4), np.zeros((5, 3)), np.zeros((5, 2)), np.zeros(6)), ValueError,
         "K must be a 3 x 3 array of numbers, got shape (4, 4)"),
        (lambda: trel.refine_pose(K, np.zeros((5, 3)), np.zeros((4, 2)), np.zeros(6)), ValueError,
         "observations must be a 5 x 2 array of numbers, got shape (4, 2)"),
        (lambda: trel.refine_pose(K, np.zeros((5, 3)), np.zeros((5, 2)), np.zeros((2, 3))), ValueError,
         "start must be a vector of N numbers, got shape (2, 3)"),
        (lambda: trel.refine_pose(K, np.zeros((5, 3), dtype=bool), np.zeros((5, 2)), np.zeros(6)), TypeError,
         "points must be an N x 3 array of numbers, got dtype bool"),
        (lambda: trel.refine_pose(K, np.zeros((5, 3), dtype=complex), np.zeros((5, 2)), np.zeros(6)), TypeError,
         "points must be an N x 3 array of numbers, got dtype complex128"),
        (lambda: trel.refine_pose(K, [["a", "b", "c"]], np.zeros((1, 2)), np.zeros(6)), TypeError,
         "points must be an N x 3 array of numbers, got a list"),
        (lambda: trel.refine_pose(K, [[1.0, 2.0, 3.0], [1.0]], np.zeros((2, 2)), np.zeros(6)), TypeError,
         "points must be an N x 3 array of numbers, got a list that is not an array of numbers"),
        (lambda: trel.refine_pose(K, {"x": 1}, np.zeros((1, 2)), np.zeros(6)), TypeError,
         "points must be an N x 3 array of numbers, got a dict"),
        (lambda: trel.rot_vec_rad_to_rot_mat(np.zeros((2, 4))), ValueError,
         "rot_vec must be a vector of 3 numbers or an N x 3 array of numbers, got shape (2, 4)"),
        (lambda: trel.refine_poses(K, (np.zeros((2, 5, 3)), np.zeros((2, 5, 2)), np.zeros((3, 6)))), ValueError,
         "starts must be a 2 x N array of numbers, got shape (3, 6)"),
    ],
)
def test_wrong_shapes_and_dtypes_are_refused_naming_the_argument(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert str(raised.value).startswith(message), str(raised.value)


def peak_numpy_bytes(call):
    """The most memory numpy's arrays held at once while call() ran."""
    tracemalloc.start()
    try:
        tracemalloc.reset_peak()
        before = tracemalloc.get_traced_memory()[0]
        call()
        return tracemalloc.get_traced_memory()[1] - before
    finally:
        tracemalloc.stop()


@pytest.mark.parametrize(
    "name, layout, copied",
    [
        ("C-contiguous float64", lambda a: a, False),
        ("float64 subclass", lambda a: a.view(type("Sub", (np.ndarray,), {})), False),
        ("Fortran float64", fortran, True),
        ("C-contiguous float32", lambda a: a.astype(np.float32), True),
    ],
)
def test_float64_arrays_in_c_order_are_not_copied(name, layout, copied):
    # 200000 points (4.8 MB): a copy shows in numpy's traced allocations; the
    # start of the wrong length is refused after the conversion.
    points = layout(np.ones((200000, 3)))
    pixels = layout(np.ones((200000, 2)))
    size = points.size * 8

    def call():
        with pytest.raises(trel.Error):
            trel.refine_pose(K, points, pixels, np.zeros(5))

    peak = peak_numpy_bytes(call)
    assert (peak >= size / 2) == copied, peak


@pytest.mark.parametrize(
    "call, cause, frames",
    [
        # Refused where it is checked: the trace is the origin frame alone.
        (lambda: trel.refine_pose(K, np.where(np.arange(120).reshape(40, 3) == 1, np.nan, SCENE.points),
                                  SCENE.pixels, SCENE.truth), "point 0 should hold finite numbers only", 1),
        # Refused below a wrapping frame: the cause is still the origin's.
        (lambda: trel.upnp(np.zeros((6, 2)), np.zeros((6, 3)), K), "coincide", 2),
    ],
)
def test_a_library_error_says_its_cause_first_and_keeps_the_trace(call, cause, frames):
    with pytest.raises(trel.Error) as raised:
        call()
    error = raised.value
    assert isinstance(error, RuntimeError)
    text = str(error)
    assert cause in text, text
    assert "Details:" not in text and ".cpp" not in text
    # The trace: each frame's file(line), signature and details; the origin's
    # details, the cause, come last.
    trace = error.trace
    assert trace.count("Details: ") == frames, trace
    assert trace.count(".cpp(") == frames, trace
    assert trace.rstrip().endswith("Details: " + text), trace


def test_a_failed_frame_of_a_batch_says_its_cause():
    x, summaries = trel.refine_poses(K, [(SCENE.points, SCENE.pixels, SCENE.truth[:5]),
                                         (SCENE.points, SCENE.pixels, SCENE.truth)])
    assert summaries.ok.tolist() == [False, True]
    assert summaries[0].error == "the start should hold 6 values for rotation type 0, instead it had 5"
    assert summaries.errors == [summaries[0].error, ""]
