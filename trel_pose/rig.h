#ifndef TREL_POSE_RIG_H
#define TREL_POSE_RIG_H

#include <string>
#include <vector>

#include "trel_pose/calibration_file.h"
#include "trel_pose/pose_camera.h"
#include "trel_tools/Camera.h"
#include "trel_tools/matrix.h"

namespace trel {

// One camera of a rig: its camera model and its pose in the rig frame, with
// the single-camera jobs' convention: R_cam_to_rig turns camera axes into rig
// axes, centre_in_rig is the camera centre in the rig frame. A rig point P
// lies at R_cam_to_rig^T (P - centre_in_rig) in the camera.
struct Rig_camera {
  Camera_model model;
  double R_cam_to_rig[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // row-major
  double centre_in_rig[3] = {0, 0, 0};
};

// A calibrated rig: cameras rigidly coupled, in order (the indices the rig
// jobs take). The rig's pose in the world is (R_rig_to_world, rig centre in
// world); camera c then sits at R_rig_to_world R_cam_to_rig and
// centre + R_rig_to_world centre_in_rig.
struct Rig {
  std::vector<Rig_camera> cameras;
};

// A rig of the given cameras. Throws exception_l, naming the camera, on no
// cameras, an R_cam_to_rig that is not a rotation (orthonormal to 1e-6,
// determinant +1), or a value that is not finite.
Rig make_rig(const std::vector<Rig_camera>& cameras);

// One camera from K, OpenCV's coefficients (none: the pinhole), R_cam_to_rig
// (3 x 3) and the centre in the rig; the same refusals as make_camera_model
// and make_rig.
Rig_camera make_rig_camera(const matrix<double>& K, const std::vector<double>& distortion, bool fisheye,
                           const matrix<double>& R_cam_to_rig, const std::vector<double>& centre_in_rig);

// The rig of a stereo calibration as cv::stereoCalibrate defines it: the rig
// frame is the first camera's, and the second camera, X2 = R X1 + T, sits at
// R_cam_to_rig = R^T and centre -R^T T.
Rig rig_of_stereo_calibration(const Stereo_calibration& calibration);

// read_stereo_calibration(path, fisheye), then rig_of_stereo_calibration.
Rig read_rig_calibration(const std::string& path, bool fisheye = false);

// The rig of the toolkit's configured cameras (create_camera_vector): each
// camera's pinhole (focal lengths and centre, no distortion) and its
// extrinsics, expressed relative to the first camera, whose frame is the rig
// frame. A camera without extrinsics sits where the first does. Throws on no
// cameras.
Rig rig_of_cameras(const std::vector<Camera>& cameras);

}  // namespace trel

#endif
