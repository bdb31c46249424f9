"""trel: camera pose refinement, UPnP, the run-time configuration, calibrated
cameras and rotation conversions over numpy arrays."""

from os import PathLike
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

# Anything numpy reads as an array of integers or reals; converted to float64.
ArrayLike = npt.ArrayLike
FloatArray = npt.NDArray[np.float64]

class Error(RuntimeError):
    """A failure reported by the library: str(e) is the cause in the library's
    words, trace the library's whole call trace."""

    trace: str

class RefineSummary:
    iterations: int
    initial_error: float
    final_error: float
    stop_reason: str
    returned_iteration: int
    initial_rms: float
    final_rms: float
    loss: str
    loss_scale: float
    inliers: npt.NDArray[np.bool_]
    covariance: Optional[FloatArray]
    covariance_rank: int
    condition_number: float
    nothing_to_fit: bool
    covariance_reason: str
    points_in_front: int
    faces_points: bool
    ok: bool
    error: str
    def to_dict(self) -> Dict[str, Any]: ...

class PoseEstimate:
    x: FloatArray
    R: FloatArray
    centre: FloatArray
    inliers: npt.NDArray[np.bool_]
    num_inliers: int
    iterations: int
    summary: RefineSummary
    def to_dict(self) -> Dict[str, Any]: ...

class BatchSummaries(Sequence[RefineSummary]):
    def __len__(self) -> int: ...
    def __getitem__(self, index: int) -> RefineSummary: ...  # type: ignore[override]
    @property
    def ok(self) -> npt.NDArray[np.bool_]: ...
    @property
    def errors(self) -> List[str]: ...

class CameraModel:
    """The pinhole K behind one of OpenCV's lens models; given to the pose jobs in
    place of K."""

    def __init__(self, K: ArrayLike, distortion: Optional[ArrayLike] = None, fisheye: bool = False) -> None: ...
    @staticmethod
    def from_file(path: str, fisheye: bool = False) -> CameraModel: ...
    @property
    def K(self) -> FloatArray: ...
    @property
    def distortion(self) -> FloatArray: ...
    @property
    def fisheye(self) -> bool: ...

# K, or a CameraModel in its place.
CameraLike = Union[ArrayLike, CameraModel]

# One frame: (points, observations, start[, weights[, K]]) or a dict with those keys.
Frame = Union[Tuple[ArrayLike, ...], Dict[str, ArrayLike]]

def refine_pose(
    K: CameraLike,
    points: ArrayLike,
    observations: ArrayLike,
    start: ArrayLike,
    *,
    rotation_code: int = 0,
    max_iters: int = 10,
    min_x_step: float = 0.0,
    min_y_step: float = -10000.0,
    finite_differences: bool = False,
    weights: Optional[ArrayLike] = None,
    loss: str = "squared",
    loss_scale: float = 1.0,
    sigma: float = 0.0,
    covariance: bool = True,
    distortion: Optional[ArrayLike] = None,
    fisheye: bool = False,
) -> Tuple[FloatArray, RefineSummary]: ...
def estimate_pose(
    K: Optional[CameraLike],
    points: ArrayLike,
    observations: ArrayLike,
    *,
    bearing: bool = False,
    threshold: float = 4.0,
    confidence: float = 0.99,
    min_iterations: int = 0,
    max_iterations: int = 10000,
    seed: int = 0,
    loss: str = "cauchy",
    loss_scale: float = 0.0,
    refine_iterations: int = 10,
    distortion: Optional[ArrayLike] = None,
    fisheye: bool = False,
) -> PoseEstimate: ...
def refine_poses(
    K: Optional[CameraLike],
    frames: Union[Sequence[Frame], Tuple[FloatArray, FloatArray, FloatArray], Tuple[FloatArray, FloatArray, FloatArray, FloatArray]],
    *,
    threads: int = 0,
    progress: Optional[Callable[[int, int], object]] = None,
    progress_interval: float = 0.5,
    rotation_code: int = 0,
    max_iters: int = 10,
    min_x_step: float = 0.0,
    min_y_step: float = -10000.0,
    finite_differences: bool = False,
    weights: Optional[ArrayLike] = None,
    loss: str = "squared",
    loss_scale: float = 1.0,
    sigma: float = 0.0,
    covariance: bool = True,
    distortion: Optional[ArrayLike] = None,
    fisheye: bool = False,
) -> Tuple[FloatArray, BatchSummaries]: ...
def upnp(
    points_2d: ArrayLike,
    points_3d: ArrayLike,
    K: ArrayLike,
    R: Optional[ArrayLike] = None,
    t: Optional[ArrayLike] = None,
) -> Optional[Tuple[FloatArray, FloatArray]]: ...
def upnp_candidates(points_2d: ArrayLike, points_3d: ArrayLike, K: ArrayLike) -> List[Tuple[FloatArray, FloatArray]]: ...

class Configuration:
    def __init__(self, location: Union[str, "PathLike[str]", None] = None) -> None: ...
    def get(self, name: str) -> Any: ...
    def set(self, name: str, value: str) -> List[str]: ...
    def names(self) -> List[str]: ...
    def __contains__(self, name: str) -> bool: ...
    def __getitem__(self, name: str) -> Any: ...
    def __setitem__(self, name: str, value: str) -> None: ...
    def __len__(self) -> int: ...
    @property
    def warnings(self) -> List[str]: ...
    def clear_warnings(self) -> None: ...
    def cameras(self) -> List[Camera]: ...

class Camera:
    def __init__(self, config: Configuration = ..., index: int = 0) -> None: ...
    @property
    def x_centre(self) -> float: ...
    @property
    def y_centre(self) -> float: ...
    @property
    def x_focus_pixels(self) -> float: ...
    @property
    def y_focus_pixels(self) -> float: ...
    @property
    def baseline(self) -> float: ...
    @property
    def image_width(self) -> int: ...
    @property
    def image_height(self) -> int: ...
    @property
    def extrinsics(self) -> List[float]: ...
    def set_camera_params(self, x_centre: float, y_centre: float, x_focus: float, y_focus: float, baseline: float) -> None: ...
    def set_resolution(self, width: float, height: float) -> None: ...
    def set_extrinsics(self, params: ArrayLike) -> None: ...
    def set_extrinsics_quaternion(self, params: ArrayLike) -> None: ...
    def project(self, points: ArrayLike) -> FloatArray: ...
    def unproject(self, pixels: ArrayLike) -> FloatArray: ...

def create_camera_vector(config: Configuration) -> List[Camera]: ...

# Each conversion takes one rotation or a stack of N along a leading axis.
def euler_angles_rad_to_rot_mat(angles: ArrayLike) -> FloatArray: ...
def quaternion_to_rot_mat(quaternion: ArrayLike) -> FloatArray: ...
def rot_mat_to_quaternion(rot_mat: ArrayLike) -> FloatArray: ...
def rot_vec_to_ang_axis(rot_vec: ArrayLike) -> FloatArray: ...
def ang_axis_to_rot_vec(ang_axis: ArrayLike) -> FloatArray: ...
def enforce_ang_axis(ang_axis: ArrayLike) -> FloatArray: ...
def rot_mat_to_ang_axis_rad(rot_mat: ArrayLike) -> FloatArray: ...
def rot_mat_to_rot_vec_rad(rot_mat: ArrayLike) -> FloatArray: ...
def ang_axis_rad_to_rot_mat(ang_axis: ArrayLike) -> FloatArray: ...
def rot_vec_rad_to_rot_mat(rot_vec: ArrayLike) -> FloatArray: ...

# ---- rigs: cameras rigidly coupled, posed together ----
# One rig camera: (K, distortion, R, t) or (K, distortion, R, t, fisheye); R turns
# camera axes into rig axes, t is the camera centre in the rig.
RigCamera = Union[Tuple[ArrayLike, Optional[ArrayLike], ArrayLike, ArrayLike], Tuple[ArrayLike, Optional[ArrayLike], ArrayLike, ArrayLike, bool]]

class Rig:
    def __init__(self, cameras: Sequence[RigCamera]) -> None: ...
    @staticmethod
    def from_file(path: str, fisheye: bool = False) -> Rig: ...
    @staticmethod
    def from_cameras(cameras: Sequence[Camera]) -> Rig: ...
    def __len__(self) -> int: ...
    @property
    def cameras(self) -> List[Tuple[FloatArray, FloatArray, FloatArray, FloatArray, bool]]: ...

class RigPoseEstimate:
    x: FloatArray
    R: FloatArray
    centre: FloatArray
    inliers: npt.NDArray[np.bool_]
    num_inliers: int
    iterations: int
    summary: RefineSummary
    cameras: List[Dict[str, Any]]
    def to_dict(self) -> Dict[str, Any]: ...

def estimate_rig_pose(
    rig: Rig,
    points: ArrayLike,
    observations: ArrayLike,
    cameras: ArrayLike,
    *,
    threshold: float = 4.0,
    confidence: float = 0.99,
    min_iterations: int = 0,
    max_iterations: int = 10000,
    seed: int = 0,
    loss: str = "cauchy",
    loss_scale: float = 0.0,
    refine_iterations: int = 10,
) -> RigPoseEstimate: ...
def refine_rig_pose(
    rig: Rig,
    points: ArrayLike,
    observations: ArrayLike,
    cameras: ArrayLike,
    start: ArrayLike,
    *,
    rotation_code: int = 0,
    max_iters: int = 10,
    min_x_step: float = 0.0,
    min_y_step: float = -10000.0,
    finite_differences: bool = False,
    weights: Optional[ArrayLike] = None,
    loss: str = "squared",
    loss_scale: float = 1.0,
    sigma: float = 0.0,
    covariance: bool = True,
) -> Tuple[FloatArray, RefineSummary, List[Dict[str, Any]]]: ...
