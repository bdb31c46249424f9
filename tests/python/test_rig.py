"""trel.Rig, trel.estimate_rig_pose and trel.refine_rig_pose."""

import numpy as np
import pytest

import trel


def rotation(v):
    v = np.asarray(v, dtype=float)
    angle = np.linalg.norm(v)
    if angle == 0:
        return np.eye(3)
    k = v / angle
    K = np.array([[0, -k[2], k[1]], [k[2], 0, -k[0]], [-k[1], k[0], 0]])
    return np.eye(3) + np.sin(angle) * K + (1 - np.cos(angle)) * K @ K


K0 = np.array([[800.0, 0, 320], [0, 800, 240], [0, 0, 1]])
K1 = np.array([[760.0, 0, 330], [0, 760, 236], [0, 0, 1]])
D1 = np.array([-0.1, 0.02, 0.0, 0.0, 0.0])  # k1 k2 p1 p2 k3
R1, T1 = rotation([0, -0.06, 0.01]), np.array([0.3, 0.0, 0.02])
CAMERAS = [(K0, None, np.eye(3), np.zeros(3)), (K1, D1, R1, T1)]


def pixels(K, D, R_cam_to_world, centre, X):
    c = (X - centre) @ R_cam_to_world  # rows: R^T (X - centre)
    x, y = c[:, 0] / c[:, 2], c[:, 1] / c[:, 2]
    if D is not None:
        r2 = x * x + y * y
        a = 1 + D[0] * r2 + D[1] * r2 * r2
        x, y = x * a, y * a
    return np.column_stack([K[0, 0] * x + K[0, 2], K[1, 1] * y + K[1, 2]])


def scene(n=120, outliers=0.0, noise=0.0, seed=1):
    rng = np.random.default_rng(seed)
    R, t = rotation([0.2, -0.4, 0.1]), np.array([0.5, -0.3, 1.0])
    cameras = np.arange(n) % 2
    points, observations = np.empty((n, 3)), np.empty((n, 2))
    for c, (K, D, Rc, tc) in enumerate(CAMERAS):
        idx = np.flatnonzero(cameras == c)
        z = rng.uniform(3, 9, len(idx))
        local = np.column_stack([rng.uniform(-0.35, 0.35, len(idx)) * z, rng.uniform(-0.27, 0.27, len(idx)) * z, z])
        X = (local @ Rc.T + tc) @ R.T + t
        points[idx] = X
        observations[idx] = pixels(K, D, R @ Rc, t + R @ tc, X)
    observations += noise * rng.standard_normal(observations.shape)
    bad = rng.random(n) < outliers
    observations[bad] = rng.uniform([0, 0], [640, 480], (bad.sum(), 2))
    return R, t, points, observations, cameras, bad


def angle_between(A, B):
    return np.linalg.norm(A - B) / np.sqrt(2)  # the angle, for small angles


@pytest.mark.parametrize("outliers, noise, tolerance", [(0.0, 0.0, 1e-9), (0.3, 0.5, 3e-3)])
def test_estimate_rig_pose_recovers_the_pose(outliers, noise, tolerance):
    R, t, points, observations, cameras, bad = scene(outliers=outliers, noise=noise)
    rig = trel.Rig(CAMERAS)
    est = trel.estimate_rig_pose(rig, points, observations, cameras, seed=4)
    assert isinstance(est, trel.RigPoseEstimate)
    assert angle_between(est.R, R) < tolerance
    assert np.linalg.norm(est.centre - t) < 10 * tolerance
    assert est.inliers.dtype == np.bool_ and est.inliers.shape == (len(points),)
    assert np.sum(est.inliers & bad) <= 2 and np.sum(~est.inliers & ~bad) <= 2
    assert [c["points"] for c in est.cameras] == [60, 60]
    assert sum(c["inliers"] for c in est.cameras) == est.num_inliers
    assert est.summary.covariance.shape == (6, 6)
    again = trel.estimate_rig_pose(rig, points.tolist(), observations[::1].copy(order="F"), list(cameras), seed=4)
    np.testing.assert_array_equal(again.x, est.x)


def test_refine_rig_pose_reaches_the_pose_from_a_nearby_start():
    R, t, points, observations, cameras, _ = scene(noise=0.0)
    est = trel.estimate_rig_pose(trel.Rig(CAMERAS), points, observations, cameras)
    start = est.x + np.array([0.01, -0.02, 0.01, 0.05, -0.05, 0.02])
    x, summary, per_camera = trel.refine_rig_pose(trel.Rig(CAMERAS), points, observations, cameras, start,
                                                  max_iters=20)
    np.testing.assert_allclose(x, est.x, atol=1e-7)
    assert summary.final_rms < 1e-6 < summary.initial_rms
    assert len(per_camera) == 2 and per_camera[1]["points"] == 60


def test_rig_from_file_and_from_cameras_agree(tmp_path):
    # The second camera 0.12 to the right, turned about y by 2 degrees (Euler
    # extrinsics: roll, pitch, yaw in degrees, then the centre).
    config = tmp_path / "rig.txt"
    config.write_text("bumblebee_params=0.5|0.5|1.25|1.6666667|640|480|0.12\n"
                      "bumblebee_params=0.5|0.5|1.25|1.6666667|640|480|0.12\n"
                      "extrinsic_camera_params=0|0|0|0|0|0\n"
                      "extrinsic_camera_params=0|0|2|0.12|0|0\n")
    cameras = trel.create_camera_vector(trel.Configuration(str(config)))
    from_cameras = trel.Rig.from_cameras(cameras)
    # X2 = R X1 + T for the stereo file, read off the second camera's projection.
    _, _, R_cam_to_rig, centre, _ = from_cameras.cameras[1]
    R, T = R_cam_to_rig.T, -R_cam_to_rig.T @ centre

    def node(name, rows, cols, values):
        data = ", ".join(repr(float(v)) for v in np.ravel(values))
        return f"{name}: !!opencv-matrix\n   rows: {rows}\n   cols: {cols}\n   dt: d\n   data: [ {data} ]\n"

    K = np.array([[800.0, 0, 320], [0, 800.000016, 240], [0, 0, 1]])
    stereo = tmp_path / "stereo.yml"
    stereo.write_text("%YAML:1.0\n---\n" + node("M1", 3, 3, K) + node("D1", 1, 5, np.zeros(5)) +
                      node("M2", 3, 3, K) + node("D2", 1, 5, np.zeros(5)) + node("R", 3, 3, R) +
                      node("T", 3, 1, T))
    from_file = trel.Rig.from_file(str(stereo))
    assert len(from_file) == len(from_cameras) == 2
    for a, b in zip(from_file.cameras, from_cameras.cameras):
        for k in (0, 2, 3):
            np.testing.assert_allclose(a[k], b[k], atol=1e-9)
        assert not np.any(a[1]) and not np.any(b[1])
    # The configured pair: 2 degrees about y, 0.12 to the right.
    assert abs(abs(R_cam_to_rig[0, 2]) - np.sin(np.radians(2))) < 1e-8 and abs(R_cam_to_rig[1, 1] - 1) < 1e-12
    np.testing.assert_allclose(centre, [0.12, 0, 0], atol=1e-12)


def spoil_rotation(cameras):
    K, D, R, t = cameras[1]
    return [cameras[0], (K, D, R * np.array([1, 1, -1]), t)]


@pytest.mark.parametrize("change, error, words", [
    (lambda a: a.update(cameras=np.where(np.arange(120) == 7, 2, a["cameras"])), trel.Error,
     "camera index 7 is 2, outside the rig of 2 cameras"),
    (lambda a: a.update(cameras=a["cameras"].astype(float)), TypeError, "cameras must be an array of integers"),
    (lambda a: a.update(cameras=a["cameras"][:5]), ValueError, "cameras must hold 120 camera indices"),
    (lambda a: a.update(observations=a["observations"][:, :1]), ValueError, "observations"),
    (lambda a: a.update(points=a["points"][:3], observations=a["observations"][:3], cameras=a["cameras"][:3]),
     trel.Error, "needs at least 4 correspondences"),
    (lambda a: a.update(points=np.where(np.arange(360).reshape(120, 3) == 4, np.nan, a["points"])), trel.Error,
     "point 1 should hold finite numbers only"),
])
def test_estimate_rig_pose_refuses_bad_input(change, error, words):
    _, _, points, observations, cameras, _ = scene()
    args = dict(points=points, observations=observations, cameras=cameras)
    change(args)
    with pytest.raises(error, match=words):
        trel.estimate_rig_pose(trel.Rig(CAMERAS), args["points"], args["observations"], args["cameras"])


def test_rig_refuses_bad_cameras():
    with pytest.raises(trel.Error, match="R_cam_to_rig is a reflection"):
        trel.Rig(spoil_rotation(CAMERAS))
    with pytest.raises(ValueError, match=r"cameras\[0\] must be \(K, distortion, R, t\)"):
        trel.Rig([(K0, None, np.eye(3))])
    with pytest.raises(trel.Error, match="a rig needs at least one camera"):
        trel.Rig([])
