#ifndef CAMERA_POSE_REFINE_CAMERA_POSE_REFINE_BATCH_H
#define CAMERA_POSE_REFINE_CAMERA_POSE_REFINE_BATCH_H

#include "camera_pose_refine/mex_host_interface.h"

namespace trel {

// camera_pose_refine_batch(cameras, points, observations, criteria, code, weights,
// options): camera_pose_refine over F frames in one call, on a pool of threads.
//   cameras: F by (nrot + 6) double, each row the camera vector of camera_pose_refine;
//   points: a cell of F 3 by N_f matrices, or a 3 by N by F double array;
//   observations: a cell of F rows by N_f matrices, or a rows by N by F array;
//   criteria, code: as camera_pose_refine's inputs 4 and 5, for every frame;
//   weights: [] (none), one vector of num_eqs weights for every frame (all frames
//     of the same N), or a cell of F such vectors ([] for none);
//   options: the fields of camera_pose_refine's input 7, and threads (0: the number
//     of cores) and progress (logical: print frames done, rate and time left).
// Outputs: plhs[0] F by (nrot + 3), row f the refined search vector of frame f (NaN
// for a frame that failed); with nlhs 2, plhs[1] an F by 1 struct array: ok, error
// and the fields of camera_pose_refine's summary. Frame f's results are those of
// camera_pose_refine on its inputs. A frame with a non-finite value or a failed
// solve is reported in its element (ok false, error the reason) and the others go
// on; anything that is wrong for the whole call raises one host error
// "Mex:exception" and sets no output. The worker threads are always joined before
// the entry returns; an interrupt from the host (Ctrl-C) stops the frames not yet
// started and raises an error.
void camera_pose_refine_batch_entry(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs,
                                    const Mex_array* const prhs[]);

// Fields of the info struct array: ok, error, then pose_refine_summary_fields.
extern const char* const pose_refine_batch_info_fields[15];

}  // namespace trel

#endif
