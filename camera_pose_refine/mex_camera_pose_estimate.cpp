// mexFunction of camera_pose_estimate.mex. Only mexFunction is exported from the module.

#include "mex.h"

#include "camera_pose_refine/camera_pose_estimate.h"
#include "camera_pose_refine/mex_api_host.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  // The entry reads inputs only when nrhs is 3 or 4 and sets at most 3 outputs.
  trel::run_mex_entry<4, 3>(trel::camera_pose_estimate_entry, nlhs, plhs, nrhs, prhs);
}
