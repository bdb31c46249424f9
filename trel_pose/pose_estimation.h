#ifndef TREL_POSE_POSE_ESTIMATION_H
#define TREL_POSE_POSE_ESTIMATION_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "trel_opt/robust_loss.h"
#include "trel_opt/solver.h"
#include "trel_pose/pose_arrays.h"
#include "trel_pose/pose_camera.h"
#include "trel_pose/pose_summary.h"
#include "trel_tools/export.h"
#include "trel_tools/matrix.h"

namespace trel {

// How estimate_pose finds a camera pose among correspondences with outliers.
struct Pose_estimate_options {
  // Largest reprojection error of an inlier: pixels, or normalised image units
  // (x/z, y/z of the camera-frame ray; about radians near the optical axis)
  // when bearing is set. 4 px keeps every point of 0.5 to 1 px noise (4 to 8
  // sigma) and rejects the gross mismatches of feature matching.
  double threshold = 4.0;
  // Probability that at least one sample of the random search holds inliers
  // only; sets the number of samples from the best inlier share so far.
  double confidence = 0.99;
  int min_iterations = 0;       // samples drawn at least
  int max_iterations = 10000;   // samples drawn at most
  std::uint32_t seed = 0;       // the same seed, the same input: the same result
  // Loss of the final refinement. Cauchy: an outlier missed by the search
  // weighs ever less the farther it lies (weight 1 / (1 + e^2 / c^2)), where
  // Huber's weight c / e still lets a few gross errors pull the pose.
  Loss loss = Loss::cauchy;
  double loss_scale = 0.0;      // the loss's scale, same units as threshold; 0: the threshold
  // Observations are camera-frame bearing vectors (x, y, z), any positive
  // length and z > 0, instead of pixels; K is then ignored.
  bool bearing = false;
  int refine_iterations = 10;   // steps of the final refinement at most
  // Asked every kPoseEstimateInterruptSamples samples of the random search
  // when set; true stops the call with exception_l "estimate_pose was
  // interrupted ...". Called on the calling thread only.
  std::function<bool()> interrupted;

  // The first rule these options break, naming the option, or empty: threshold
  // finite and positive; confidence in (0, 1); 0 <= min_iterations <=
  // max_iterations, max_iterations >= 1; loss one of Loss; loss_scale finite,
  // 0 or more; refine_iterations 1 or more.
  std::string broken_rule() const;
  // Throws exception_l with the text of broken_rule() when a rule is broken.
  void check() const;
};

// Samples of the random search between two calls of options.interrupted.
constexpr int kPoseEstimateInterruptSamples = 1024;

struct Pose_estimate_result {
  // Rotation vector (axis times angle, radians) of R, then the camera centre
  // in world: the search vector of refine_pose's rotation code 0.
  std::vector<double> x;
  matrix<double> R;               // 3 x 3, camera axes to world axes
  std::vector<double> centre;     // camera centre, world frame
  // One flag per correspondence: 1 when its reprojection error at the
  // returned pose is below the threshold (and it lies in front of the camera).
  // Repeated correspondences (the same point and observation, exactly) share
  // the flag of their first copy; num_inliers counts every flag.
  std::vector<unsigned char> inliers;
  int num_inliers = 0;
  int iterations = 0;             // samples drawn by the random search
  // The final refinement's summary, covariance included. It ran on the
  // search's inliers; its inliers field is replaced by the mask above.
  Pose_summary summary;
};

// The fewest correspondences estimate_pose takes.
constexpr int kPoseEstimateMinPoints = 4;
// A model needs at least max(min(N, kPoseEstimateMinInliers), this share
// of the N correspondences) inliers to be accepted. Three inliers come with any
// sample and a fourth often by chance among many wrong matches: 6 is what
// random pixels do not reach.
constexpr int kPoseEstimateMinInliers = 6;
constexpr double kPoseEstimateMinInlierShare = 0.1;

// Absolute pose of a calibrated camera from 2-D/3-D correspondences of which
// any share may be wrong.
//
// K: 3 x 3 intrinsics [fx s cx; 0 fy cy; 0 0 1] or a non-zero multiple of it,
// finite and invertible (ignored for bearing vectors).
// points: N world points (X, Y, Z). observations: N pixels (u = column, v) or,
// with options.bearing, N camera-frame bearing vectors (x, y, z).
// Pose convention: a world point X lies at R^T (X - centre) in the camera.
//
// Steps: a random search over minimal samples of 3 correspondences solved by
// OpenGV's P3P (Kneip), each candidate scored by its truncated squared
// reprojection errors; every new best model is refitted by UPnP on its
// inliers and rescored (local optimisation); the number of samples adapts to
// the best inlier share and options.confidence within [min_iterations,
// max_iterations]. Then UPnP on the final inliers, then refine_pose (rotation
// code 0) with the robust loss on those inliers, and the inlier mask at the
// refined pose.
//
// Repeated correspondences count once: the search, the refinement and its
// covariance, the "at least 4" rule and the inlier share see the distinct
// correspondences only (a repeat adds no information). World points whose
// largest coordinate is beyond 1e100 or below 1e-100 are scaled to a largest
// coordinate of 1 for the work and the pose scaled back.
//
// Candidates that are not finite, whose R is not a rotation or that put a
// sample point at or behind the camera never win; samples of three (nearly)
// collinear points or coincident rays are skipped.
//
// Throws exception_l, naming the cause, on: fewer than 4 correspondences;
// sizes that do not match; non-finite values; K not invertible or with an
// entry below the diagonal that is not 0; bad options;
// world points all coincident or all on one line; observations all along one
// ray; a bearing vector with z <= 0; no model with enough inliers, or none
// that faces them (its refinement and the search's best both leave too many
// behind the camera).
//
// Threads: estimate_pose may be called from several threads at once: the
// random search draws from its own generator seeded by options.seed (never
// the C library's rand), and the OpenGV solvers it calls keep no state.
TREL_TOOLS_EXPORT Pose_estimate_result estimate_pose(const matrix<double>& K,
                                                     const std::vector<std::vector<double>>& points,
                                                     const std::vector<std::vector<double>>& observations,
                                                     const Pose_estimate_options& options = Pose_estimate_options());

// The same over a camera model and flat arrays. points: N rows (X, Y, Z);
// observations: N pixel pairs (or, with options.bearing, N camera-frame
// bearing vectors, 3 values each; the camera is then ignored). With
// distortion, the minimal samples and UPnP run on the bearings of the
// undistorted pixels, while the scoring, the local optimisation and the final
// refinement run in observed pixels through the camera's lens, so that the
// threshold stays in pixels. A pixel the lens cannot undistort (its model folds
// over there; see undistort) never enters a sample and is no inlier;
// Pose_summary::undistort_failures counts them.
TREL_TOOLS_EXPORT Pose_estimate_result estimate_pose(const Camera_model& camera, const Points_view& points,
                                                     const Values_view& observations,
                                                     const Pose_estimate_options& options = Pose_estimate_options());

}  // namespace trel

#endif
