#ifndef CAMERA_POSE_REFINE_CAMERA_POSE_ESTIMATE_H
#define CAMERA_POSE_REFINE_CAMERA_POSE_ESTIMATE_H

#include "camera_pose_refine/mex_host_interface.h"
#include "camera_pose_refine/plugin_options.h"
#include "trel_pose/pose_estimation.h"

namespace trel {

// Fields of the options struct, input 4, all optional: threshold (positive, pixels),
// confidence (in (0, 1)), min_iterations (whole number, 0 or more), max_iterations
// (whole number, 1 or more), seed (whole number from 0 to 2^32 - 1), loss ('squared',
// 'huber', 'cauchy', 'soft_l1' or 'truncated'), loss_scale (0 or more; 0: the
// threshold), refine_iterations (whole number, 1 or more: steps of the final
// refinement at most), distortion and fisheye (the lens, Entry_lens, into *lens
// when given: the samples are solved on undistorted pixels, the scoring and the
// refinement run in the observed pixels through the lens). Fields the struct does not hold keep the defaults of
// Pose_estimate_options. Throws exception_l at depth 0, naming the field, for
// anything else: not a 1 by 1 struct, an unknown field, a value of the wrong class
// or size, a whole number that is not, and (in the words of
// Pose_estimate_options::check) a value that breaks an option's rule.
Pose_estimate_options read_estimate_options(const Mex_host& host, const Mex_array* a, Entry_lens* lens = nullptr);

// Fields of the info struct, in order: iterations (samples drawn by the random
// search), num_inliers, refine_iterations (steps of the final refinement),
// stop_reason ('max_iters', 'min_x_step' or 'min_y_step'), initial_rms and
// final_rms (root mean square reprojection error, pixels, of the refinement's
// points at its start and at the returned pose), loss, loss_scale, covariance
// (6 by 6 over the rotation-vector perturbation in world axes then the camera
// centre, or [] when not reliable), covariance_rank and condition_number (of the
// normal matrix; 0 and NaN when not computed).
extern const char* const pose_estimate_info_fields[11];

// The driver of camera_pose_estimate, host-independent:
//   [x, inliers, info] = camera_pose_estimate(K, points, pixels, options)
// K: 3 by 3 real double intrinsics, finite. points: 3 by N real doubles, world
// points one per column. pixels: 2 by N real doubles (u = column, v = row), one
// per point. options: see read_estimate_options. Checks them in that order, calls
// estimate_pose and stores x (1 by 6: rotation vector of R, radians, then the
// camera centre in world; camera_pose_refine's search vector for rotation type 0)
// in plhs[0] (also for nlhs 0, the host's `ans`), the 1 by N logical inlier mask
// in plhs[1] when nlhs >= 2 and the info struct in plhs[2] when nlhs is 3. plhs
// holds at least max(nlhs, 1) slots, prhs holds nrhs inputs. Every failure
// (bad input, too few points, degenerate input, no model with enough inliers)
// becomes one host error with the identifier "Mex:exception" and the text of the
// exception, which names the cause; no output is set then. An interrupt from the
// host (Ctrl-C) stops the random search within kPoseEstimateInterruptSamples
// samples with the error "estimate_pose was interrupted ...". Nothing is printed.
void camera_pose_estimate_entry(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs,
                                const Mex_array* const prhs[]);

}  // namespace trel

#endif
