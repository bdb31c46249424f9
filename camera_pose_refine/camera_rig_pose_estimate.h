#ifndef CAMERA_POSE_REFINE_CAMERA_RIG_POSE_ESTIMATE_H
#define CAMERA_POSE_REFINE_CAMERA_RIG_POSE_ESTIMATE_H

#include "camera_pose_refine/mex_host_interface.h"

namespace trel {

// Fields of the info struct, in order: those of camera_pose_estimate's
// (iterations, num_inliers, refine_iterations, stop_reason, initial_rms,
// final_rms, loss, loss_scale, covariance, covariance_rank, condition_number;
// the covariance over the rotation-vector perturbation in world axes then the
// rig centre), then camera_points, camera_inliers and camera_rms: 1 by M rows,
// per rig camera its observations, its inliers and their RMS (pixels; NaN
// without inliers).
extern const char* const rig_pose_estimate_info_fields[14];

// The driver of camera_rig_pose_estimate, host-independent:
//   [x, inliers, info] = camera_rig_pose_estimate(cameras, points, pixels, camera_indices, options)
// cameras: a cell array of camera structs, or one struct, each with the fields K
// (3 by 3), R (3 by 3, camera axes to rig axes), t (3 values, the camera centre in
// the rig) and optionally distortion (OpenCV's coefficients; [] or absent: none)
// and fisheye (logical). points: 3 by N real doubles, world points one per
// column, read where they lie. pixels: 2 by N real doubles. camera_indices: 1 by N
// (or N by 1) whole numbers from 1 to M, the camera of each pixel. options:
// camera_pose_estimate's fields, input 5. Calls estimate_rig_pose and stores x
// (1 by 6: rotation vector of R_rig_to_world, then the rig centre in world) in
// plhs[0], the 1 by N logical inlier mask in plhs[1] when nlhs >= 2 and the info
// struct in plhs[2] when nlhs is 3. Every failure becomes one host error with
// the identifier "Mex:exception" and the text of the exception; no output is
// set then. Nothing is printed.
void camera_rig_pose_estimate_entry(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs,
                                    const Mex_array* const prhs[]);

}  // namespace trel

#endif
