#ifndef CAMERA_POSE_REFINE_CAMERA_POSE_REFINE_BATCH_H
#define CAMERA_POSE_REFINE_CAMERA_POSE_REFINE_BATCH_H

#include <cstddef>

#include "camera_pose_refine/mex_host_interface.h"

namespace trel {

// camera_pose_refine_batch(cameras, points, observations, criteria, code, weights,
// options): camera_pose_refine over F frames in one call, on a pool of threads.
//   cameras: F by (nrot + 6) double, each row the camera vector of camera_pose_refine
//     (F may be 0: the outputs are then 0 by (nrot + 3) and 0 by 1);
//   points: a cell of F 3 by N_f matrices, or a 3 by N by F double array;
//   observations: a cell of F rows by N_f matrices, or a rows by N by F array;
//   criteria, code: as camera_pose_refine's inputs 4 and 5, for every frame;
//   weights: [] (none), one vector of num_eqs weights for every frame (all frames
//     of the same N), or a cell of F such vectors ([] for none); a vector that does
//     not fit its frame fails that frame only;
//   options: the fields of camera_pose_refine's input 7, and threads (0: the number
//     of cores, at most kMaxBatchThreads), progress (logical: print frames done,
//     rate and time left) and solver: 'framework' (the default: frame f's results
//     are those of camera_pose_refine on its inputs, bit for bit) or 'kernel' (the
//     library's pose kernel, refine_pose's default: the same minimum to round-off,
//     in fewer operations; its stop rule is the kernel's, and the criteria's
//     min_x_step and min_y_step are not used).
// Outputs: plhs[0] F by (nrot + 3), row f the refined search vector of frame f (NaN
// for a frame that failed); with nlhs 2, plhs[1] an F by 1 struct array: ok, error
// and the fields of camera_pose_refine's summary. A frame with a non-finite value,
// weights that do not fit or a failed solve is reported in its element (ok false,
// error the reason) and the others go on; anything that is wrong for the whole call
// (options breaking a rule among them) raises one host error "Mex:exception" and
// sets no output. The worker threads are always joined before the entry returns;
// an interrupt from the host (Ctrl-C) stops the frames not yet started and raises
// an error.
void camera_pose_refine_batch_entry(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs,
                                    const Mex_array* const prhs[]);

// Fields of the info struct array: ok, error, then pose_refine_summary_fields.
constexpr std::size_t kPoseRefineBatchInfoFields = 16;
extern const char* const pose_refine_batch_info_fields[kPoseRefineBatchInfoFields];

}  // namespace trel

#endif
