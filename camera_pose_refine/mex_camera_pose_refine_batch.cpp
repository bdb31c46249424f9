// mexFunction of camera_pose_refine_batch.mex. Only mexFunction is exported from the module.

#include "mex.h"

#include "camera_pose_refine/camera_pose_refine_batch.h"
#include "camera_pose_refine/mex_api_host.h"

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  // The entry reads inputs only when nrhs is 3 to 7 and sets at most 2 outputs.
  trel::run_mex_entry<7, 2>(trel::camera_pose_refine_batch_entry, nlhs, plhs, nrhs, prhs);
}
