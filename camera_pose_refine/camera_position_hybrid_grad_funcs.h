#ifndef CAMERA_POSE_REFINE_CAMERA_POSITION_HYBRID_GRAD_FUNCS_H
#define CAMERA_POSE_REFINE_CAMERA_POSITION_HYBRID_GRAD_FUNCS_H

#include <vector>

#include <opencv2/core.hpp>

#include "camera_pose_refine/camera_position_grad_funcs.h"
#include "trel_tools/matrix.h"

// Jacobians of the hybrid rotation codes, whose cost repeats the pixel
// residuals of all points three times. With n = 2 * npts, the rows
// row0 .. row0 + n - 1 are the Jacobian in the search vector's own
// parameterisation; the next two blocks of n rows are the Jacobians in the
// other two parameterisations at the same rotation, carried back to the
// search vector by the chain rule through the conversion Jacobians (the
// position columns pass through unchanged). Unweighted, as for every
// trel::Grad_func.
//
// The chained blocks are exact where the conversion Jacobians are: at a unit
// quaternion for code -1; at a non-zero rotation vector for code -2; for
// code -3 only along directions that keep the axis at unit length (the
// conversions do not normalise it). At the zero rotation of codes -1 and -2
// the chained blocks are not finite.
//
// operator() checks x and J as the single-parameterisation classes do, and is
// guarded: any failure leaves it as exception_l with its frame added.

namespace trel {

// What the three hybrids share: the points, K and the base cost function, and
// the three single-parameterisation members (held by value, without a base)
// that fill the blocks.
class Camera_position_hybrid_grad_func_base : public Camera_position_grad_func_common {
protected:
  // Takes ownership of base, the cost function built for the same points, K and code.
  Camera_position_hybrid_grad_func_base(std::vector<std::vector<double>> points, matrix<double> K, Opt_func* base);

  Camera_position_grad_func_aau aau_;
  Camera_position_grad_func_aan aan_;
  Camera_position_grad_func_qu qu_;
};

// Code -1: search vector quaternion (x, y, z, w), t; blocks qu, aau, aan.
class Camera_position_grad_func_qu_aau_aan : public Camera_position_hybrid_grad_func_base {
public:
  // Takes ownership of base, the cost function built for the same points, K and code.
  Camera_position_grad_func_qu_aau_aan(std::vector<std::vector<double>> points, matrix<double> K, Opt_func* base);
  ~Camera_position_grad_func_qu_aau_aan() override = default;
  int operator()(const std::vector<double>& x, cv::Mat& jacobian, int row0) const override;
};

// Code -2: search vector rotation vector r (3 values), t; blocks aau, qu, aan.
class Camera_position_grad_func_aau_qu_aan : public Camera_position_hybrid_grad_func_base {
public:
  Camera_position_grad_func_aau_qu_aan(std::vector<std::vector<double>> points, matrix<double> K, Opt_func* base);
  ~Camera_position_grad_func_aau_qu_aan() override = default;
  int operator()(const std::vector<double>& x, cv::Mat& jacobian, int row0) const override;
};

// Code -3: search vector angle-axis (axis, angle), t; blocks aan, qu, aau.
class Camera_position_grad_func_aan_qu_aau : public Camera_position_hybrid_grad_func_base {
public:
  Camera_position_grad_func_aan_qu_aau(std::vector<std::vector<double>> points, matrix<double> K, Opt_func* base);
  ~Camera_position_grad_func_aan_qu_aau() override = default;
  int operator()(const std::vector<double>& x, cv::Mat& jacobian, int row0) const override;
};

}  // namespace trel

#endif
