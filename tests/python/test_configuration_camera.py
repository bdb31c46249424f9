"""The configuration store and the camera rig through the Python module."""

import numpy as np
import pytest

import trel

RIG = """bumblebee_params=0.5|0.5|1.0|1.3|640|480|0.12
bumblebee_params=0.4|0.6|0.9|1.2|320|240|0.1
extrinsic_camera_params=0|0|0|0|0|0
extrinsic_camera_params=10|0|0|1|0|0
haar_setting=cascade.xml|1.1|3|24|24|0
classifier_detector_roi=1|2|30|40
no_such_parameter=3
"""


@pytest.fixture
def rig_file(tmp_path):
    path = tmp_path / "rig.cfg"
    path.write_text(RIG)
    return path


def test_configuration_reads_a_file_and_keeps_its_warnings(rig_file):
    config = trel.Configuration(rig_file)
    assert config.get("bumblebee_params") == [[0.5, 0.5, 1.0, 1.3, 640.0, 480.0, 0.12],
                                              [0.4, 0.6, 0.9, 1.2, 320.0, 240.0, 0.1]]
    assert config["classifier_detector_roi"] == {"x": 1, "y": 2, "width": 30, "height": 40}
    (haar,) = config.get("haar_setting")
    assert haar["cascade_loc"] == "cascade.xml" and haar["detections"] == 3 and haar["scale_rate"] == 1.1
    assert len(config.warnings) == 1 and "no_such_parameter" in config.warnings[0]
    assert config.warnings[0].startswith("WARNING: ")
    assert len(config) == len(config.names()) and "bumblebee_params" in config
    assert config.get("kernel_vals") is None


def test_set_and_get_by_name():
    config = trel.Configuration()
    assert config.warnings == []
    names = config.names()
    plain = {}
    for name in names:
        value = config.get(name)
        if isinstance(value, (bool, int, float, str)):
            plain[type(value)] = name
    assert set(plain) == {bool, int, float, str}
    int_name = plain[int]
    assert config.set(int_name, "17") == []
    assert config.get(int_name) == 17
    config["__free_text"] = "hello"
    assert config.get("__free_text") == "hello"
    warned = config.set(int_name, "18")
    assert warned and config.get(int_name) == 17 and config.warnings == warned
    config.clear_warnings()
    assert config.warnings == []
    with pytest.raises(KeyError):
        config.get("no_such_parameter")


def test_missing_and_malformed_files(tmp_path):
    missing = trel.Configuration(tmp_path / "absent.cfg")
    assert any("absent.cfg" in w for w in missing.warnings)
    bad = tmp_path / "bad.cfg"
    bad.write_text("a=b=c\n")
    with pytest.raises(trel.Error):
        trel.Configuration(bad)
    with pytest.raises(trel.Error):
        trel.Configuration().set("projection_offsets", "12")


def test_cameras_project_and_unproject_rows(rig_file):
    config = trel.Configuration(rig_file)
    cameras = config.cameras()
    assert len(cameras) == 2 and len(trel.create_camera_vector(config)) == 2
    first, second = cameras
    assert (first.image_width, first.image_height, second.image_width) == (640, 480, 320)
    assert second.extrinsics == [10.0, 0.0, 0.0, 1.0, 0.0, 0.0]
    points = np.array([[0.1, 0.2, 2.0], [-0.3, 0.1, 4.0], [0.0, 0.0, -1.0]])
    for camera in cameras:
        pixels = camera.project(points)
        assert pixels.shape == (3, 3)
        for row, point in zip(pixels, points):
            np.testing.assert_array_equal(row, camera.project(point))
        np.testing.assert_array_equal(pixels[2], 0.0)
        visible = pixels.any(axis=1)
        assert visible[1] and not visible[2]
        np.testing.assert_allclose(camera.unproject(pixels[visible]), points[visible], atol=1e-9)
    u = 0.5 * 640 + 1.0 * 640 * 0.1 / 2.0
    assert first.project(points[0])[0] == pytest.approx(u)
    with pytest.raises(ValueError, match="points must be an N x 3 array of numbers or a vector of 3 numbers, got shape"):
        first.project(np.zeros((2, 2)))
    single = trel.Camera(config, 1)
    np.testing.assert_array_equal(single.project(points), second.project(points))
    assert "camera created from specific parameters." in repr(single)
