#include "camera_pose_refine/camera_position_hybrid_grad_funcs.h"

#include <cmath>
#include <cstddef>
#include <sstream>
#include <utility>

#include "trel_tools/exception_l.h"
#include "trel_tools/rotation.h"
#include "trel_tools/rotation_jacobians.h"

namespace trel {

namespace {

std::vector<double> with_centre(std::vector<double> rotation, const std::vector<double>& x, int nrot) {
  rotation.insert(rotation.end(), x.begin() + nrot, x.begin() + nrot + 3);
  return rotation;
}

// The sign of q is free for a rotation, but the quaternion Jacobians of the
// conversions are those of one sign: flip q to the sign of `reference`.
void align_sign(std::vector<double>& q, const std::vector<double>& reference) {
  double dot = 0.0;
  for (int k = 0; k < 4; ++k) dot += q[k] * reference[k];
  if (dot < 0.0)
    for (double& v : q) v = -v;
}

}  // namespace

Camera_position_hybrid_grad_func_base::Camera_position_hybrid_grad_func_base(std::vector<std::vector<double>> points,
                                                                             matrix<double> K, Opt_func* base)
    : Camera_position_grad_func_common(base, std::move(points), std::move(K)),
      aau_(nullptr, points_, K_),
      aan_(nullptr, points_, K_),
      qu_(nullptr, points_, K_) {}

namespace {

// Copies a chained block into its rows of the Jacobian; a size mismatch is
// reported in `frame`, the operator() that asked for the copy.
void copy_block(const Frame& frame, const cv::Mat& block, cv::Mat& jacobian, int first_row, const char* name) {
  cv::Mat roi = jacobian.rowRange(first_row, first_row + block.rows);
  if (roi.size() != block.size()) {
    std::stringstream text;
    text << "Size mismatch for " << name << " grads. output roi was (" << roi.cols << "," << roi.rows
         << ") but input was (" << block.cols << "," << block.rows << ")";
    detail::throw_origin(frame.file, frame.line, frame.signature, text.str());
  }
  block.copyTo(roi);
}

}  // namespace

Camera_position_grad_func_qu_aau_aan::Camera_position_grad_func_qu_aau_aan(std::vector<std::vector<double>> points,
                                                                           matrix<double> K, Opt_func* base)
    : Camera_position_hybrid_grad_func_base(std::move(points), std::move(K), base) {}

int Camera_position_grad_func_qu_aau_aan::operator()(const std::vector<double>& x, cv::Mat& jacobian,
                                                     int row0) const {
  const Frame frame = TREL_FRAME;
  return guarded(frame, [&] {
  checked_rows(x, jacobian, row0, 4, 6);
  if (points_.empty()) return 0;
  const int n = qu_(x, jacobian, row0);
  // A search quaternion with w < 0 is the same rotation as -q, whose
  // conversions give the rotation vector and angle-axis of angle at most pi
  // that the matrix route below yields; the chain then runs through -q.
  std::vector<double> q(x.begin(), x.begin() + 4);
  double sign = 1.0;
  if (q[3] < 0.0) {
    for (double& v : q) v = -v;
    sign = -1.0;
  }
  const cv::Mat_<double> rot_vec_jac = quaternion_to_rot_vec_jacobian(q) * sign;
  const cv::Mat_<double> ang_axis_jac = quaternion_to_angle_axis_jacobian(q) * sign;
  const matrix<double> R = quaternion_to_rot_mat(q);
  const std::vector<double> xr = with_centre(rot_mat_to_rot_vec_rad(R), x, 4);
  const std::vector<double> xa = with_centre(rot_mat_to_ang_axis_rad(R), x, 4);
  cv::Mat_<double> aan_rows(n, 7), aau_rows(n, 6);
  aan_(xa, aan_rows, 0);
  aau_(xr, aau_rows, 0);
  const cv::Mat block2 = aau_rows * convert_rot_jac_to_full_jac(rot_vec_jac);
  const cv::Mat block3 = aan_rows * convert_rot_jac_to_full_jac(ang_axis_jac);
  copy_block(frame, block2, jacobian, row0 + n, "aau");
  copy_block(frame, block3, jacobian, row0 + 2 * n, "aan");
  return 3 * n;
  });
}

Camera_position_grad_func_aau_qu_aan::Camera_position_grad_func_aau_qu_aan(std::vector<std::vector<double>> points,
                                                                           matrix<double> K, Opt_func* base)
    : Camera_position_hybrid_grad_func_base(std::move(points), std::move(K), base) {}

int Camera_position_grad_func_aau_qu_aan::operator()(const std::vector<double>& x, cv::Mat& jacobian,
                                                     int row0) const {
  const Frame frame = TREL_FRAME;
  return guarded(frame, [&] {
  checked_rows(x, jacobian, row0, 3, 6);
  if (points_.empty()) return 0;
  const int n = aau_(x, jacobian, row0);
  const std::vector<double> r(x.begin(), x.begin() + 3);
  const cv::Mat_<double> quaternion_jac = rot_vec_to_quaternion_jacobian(r);
  const cv::Mat_<double> ang_axis_jac = rot_vec_to_angle_axis_jacobian(r);
  std::vector<double> q = rot_mat_to_quaternion(rot_vec_rad_to_rot_mat(r));
  const double angle = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
  if (angle > 0.0) {
    const double s = std::sin(angle / 2.0) / angle;
    align_sign(q, {s * r[0], s * r[1], s * r[2], std::cos(angle / 2.0)});
  }
  cv::Mat_<double> qu_rows(n, 7), aan_rows(n, 7);
  qu_(with_centre(q, x, 3), qu_rows, 0);
  // The zero rotation has no axis of its own; any unit axis gives the same
  // (zero) axis rows, and the conversion Jacobian is zero there.
  std::vector<double> ang_axis = rot_vec_to_ang_axis(r);
  if (!(angle > 0.0)) ang_axis = {0.0, 0.0, 1.0, 0.0};
  aan_(with_centre(ang_axis, x, 3), aan_rows, 0);
  const cv::Mat block2 = qu_rows * convert_rot_jac_to_full_jac(quaternion_jac);
  const cv::Mat block3 = aan_rows * convert_rot_jac_to_full_jac(ang_axis_jac);
  copy_block(frame, block2, jacobian, row0 + n, "quat");
  copy_block(frame, block3, jacobian, row0 + 2 * n, "aan");
  return 3 * n;
  });
}

Camera_position_grad_func_aan_qu_aau::Camera_position_grad_func_aan_qu_aau(std::vector<std::vector<double>> points,
                                                                           matrix<double> K, Opt_func* base)
    : Camera_position_hybrid_grad_func_base(std::move(points), std::move(K), base) {}

int Camera_position_grad_func_aan_qu_aau::operator()(const std::vector<double>& x, cv::Mat& jacobian,
                                                     int row0) const {
  const Frame frame = TREL_FRAME;
  return guarded(frame, [&] {
  checked_rows(x, jacobian, row0, 4, 6);
  if (points_.empty()) return 0;
  const int n = aan_(x, jacobian, row0);
  const std::vector<double> a(x.begin(), x.begin() + 4);
  const cv::Mat_<double> quaternion_jac = angle_axis_to_quaternion_jacobian(a);
  const cv::Mat_<double> rot_vec_jac = angle_axis_to_rot_vec_jacobian(a);
  std::vector<double> q = rot_mat_to_quaternion(ang_axis_rad_to_rot_mat(a));
  const double s = std::sin(a[3] / 2.0);
  align_sign(q, {s * a[0], s * a[1], s * a[2], std::cos(a[3] / 2.0)});
  cv::Mat_<double> qu_rows(n, 7), aau_rows(n, 6);
  qu_(with_centre(q, x, 4), qu_rows, 0);
  aau_(with_centre(ang_axis_to_rot_vec(a), x, 4), aau_rows, 0);
  const cv::Mat block2 = qu_rows * convert_rot_jac_to_full_jac(quaternion_jac);
  const cv::Mat block3 = aau_rows * convert_rot_jac_to_full_jac(rot_vec_jac);
  copy_block(frame, block2, jacobian, row0 + n, "quat");
  copy_block(frame, block3, jacobian, row0 + 2 * n, "aau");
  return 3 * n;
  });
}

}  // namespace trel
