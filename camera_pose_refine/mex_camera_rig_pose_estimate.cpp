// mexFunction of camera_rig_pose_estimate.mex. Only mexFunction is exported from the module.

#include "mex.h"

#include "camera_pose_refine/camera_rig_pose_estimate.h"
#include "camera_pose_refine/mex_api_host.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  // The entry reads inputs only when nrhs is 4 or 5 and sets at most 3 outputs.
  trel::run_mex_entry<5, 3>(trel::camera_rig_pose_estimate_entry, nlhs, plhs, nrhs, prhs);
}
