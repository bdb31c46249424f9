// The camera model: the pixel and camera-frame rows of a world point and their
// Jacobians with respect to the pose (delta, t) and the point, against central
// differences over a table of poses, points and intrinsics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "trel_pose/camera_model.h"
#include "trel_pose/pose_kernel.h"
#include "trel_tools/matrix.h"
#include "trel_tools/rotation.h"

namespace {

using namespace trel;

constexpr double kStep = 1e-6;
constexpr double kRelativeTolerance = 1e-6;

struct Case {
  std::vector<double> rot_vec;          // R_cam_to_world
  std::vector<double> centre_in_world;
  std::vector<double> point_in_world;
  double fx, fy, cx, cy, skew;
};

const Case kCases[] = {
    {{0.0, 0.0, 0.0}, {0.0, 0.0, -5.0}, {0.3, -0.2, 1.0}, 800, 800, 320, 240, 0},
    {{0.2, -0.1, 0.3}, {1.0, 2.0, -4.0}, {0.5, 1.5, 2.0}, 600, 650, 300, 200, 2.5},
    {{-1.2, 0.4, 2.5}, {-3.0, 0.5, 1.0}, {2.0, -1.0, 0.5}, 1200, 1100, 640, 480, -1.0},
    {{3.0, 0.1, -0.2}, {0.0, 0.0, 0.0}, {0.1, 0.2, -6.0}, 500, 500, 0, 0, 0},
};

std::vector<double> row_major(const matrix<double>& R) {
  std::vector<double> out(9);
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) out[3 * r + c] = R[r][c];
  return out;
}

Pinhole_model<double> lens_of(const Case& k) {
  Pinhole_model<double> lens;
  lens.fx = k.fx;
  lens.fy = k.fy;
  lens.cx = k.cx;
  lens.cy = k.cy;
  lens.skew = k.skew;
  return lens;
}

// The rows (2 pixel rows, or 3 camera-frame rows) at the pose perturbed by
// (delta, dt) and the point moved by dX.
std::vector<double> rows_at(const Case& k, bool bearing, const double delta[3], const double dt[3],
                            const double dX[3]) {
  std::vector<double> R = row_major(rot_vec_rad_to_rot_mat(k.rot_vec));
  rotate_by_vector(delta, R.data());
  double t[3], X[3];
  for (int i = 0; i < 3; ++i) {
    t[i] = k.centre_in_world[static_cast<std::size_t>(i)] + dt[i];
    X[i] = k.point_in_world[static_cast<std::size_t>(i)] + dX[i];
  }
  // The camera-frame point straight from c = R^T (X - t), and the pinhole's
  // own projection of it: independent of the projectors under test.
  double c[3];
  for (int r = 0; r < 3; ++r) c[r] = R[r] * (X[0] - t[0]) + R[3 + r] * (X[1] - t[1]) + R[6 + r] * (X[2] - t[2]);
  if (bearing) return {c[0], c[1], c[2]};
  double pixel[2], J[2][3];
  lens_of(k).project(c, pixel, J);
  return {pixel[0], pixel[1]};
}

// Column d of the 9 derivatives (delta, t, X) by central differences.
std::vector<double> difference_column(const Case& k, bool bearing, int d) {
  double plus[9] = {}, minus[9] = {};
  plus[d] = kStep;
  minus[d] = -kStep;
  const std::vector<double> a = rows_at(k, bearing, plus, plus + 3, plus + 6);
  const std::vector<double> b = rows_at(k, bearing, minus, minus + 3, minus + 6);
  std::vector<double> column(a.size());
  for (std::size_t r = 0; r < a.size(); ++r) column[r] = (a[r] - b[r]) / (2 * kStep);
  return column;
}

TEST(CameraModel, JacobiansMatchCentralDifferences) {
  for (std::size_t n = 0; n < std::size(kCases); ++n)
    for (bool bearing : {false, true}) {
      const Case& k = kCases[n];
      const std::vector<double> R = row_major(rot_vec_rad_to_rot_mat(k.rot_vec));
      double rows[3], J_pose[3][6], J_point[3][3];
      const double* t = k.centre_in_world.data();
      const double* X = k.point_in_world.data();
      if (bearing) world_point_rows<double, 3>(lens_of(k), R.data(), t, X, rows, J_pose, J_point);
      else world_point_rows<double, 2>(lens_of(k), R.data(), t, X, rows, J_pose, J_point);
      const double zero[3] = {0, 0, 0};
      const std::vector<double> at = rows_at(k, bearing, zero, zero, zero);
      for (std::size_t r = 0; r < at.size(); ++r) EXPECT_NEAR(rows[r], at[r], 1e-12 * std::max(1.0, std::fabs(at[r])));
      for (int d = 0; d < 9; ++d) {
        const std::vector<double> column = difference_column(k, bearing, d);
        for (std::size_t r = 0; r < column.size(); ++r) {
          const double analytic = d < 6 ? J_pose[r][d] : J_point[r][d - 6];
          const double scale = std::max(1.0, std::fabs(column[r]));
          EXPECT_NEAR(analytic, column[r], kRelativeTolerance * scale)
              << "case " << n << (bearing ? " bearing" : " pixel") << " row " << r << " column " << d;
        }
      }
    }
}

// The lens's d pixel / d c against central differences of project.
TEST(CameraModel, PinholeProjectionJacobianMatchesCentralDifferences) {
  const double points[][3] = {{0.3, -0.2, 1.0}, {-2.0, 1.5, 4.0}, {0.01, 0.02, 0.5}};
  for (const Case& k : kCases)
    for (const auto& c0 : points) {
      double pixel[2], J[2][3];
      lens_of(k).project(c0, pixel, J);
      for (int d = 0; d < 3; ++d) {
        double plus[3] = {c0[0], c0[1], c0[2]}, minus[3] = {c0[0], c0[1], c0[2]};
        plus[d] += kStep;
        minus[d] -= kStep;
        double p_plus[2], p_minus[2], unused[2][3];
        lens_of(k).project(plus, p_plus, unused);
        lens_of(k).project(minus, p_minus, unused);
        for (int r = 0; r < 2; ++r) {
          const double column = (p_plus[r] - p_minus[r]) / (2 * kStep);
          EXPECT_NEAR(J[r][d], column, kRelativeTolerance * std::max(1.0, std::fabs(column))) << r << " " << d;
        }
      }
    }
}

// The pinhole of K reads fx, skew, cx, fy, cy and projects as K c does.
TEST(CameraModel, PinholeFromKProjectsAsK) {
  matrix<double> K(3, 3);
  const double entries[9] = {700, 3, 310, 0, 690, 250, 0, 0, 1};
  for (unsigned r = 0; r < 3; ++r)
    for (unsigned c = 0; c < 3; ++c) K[r][c] = entries[3 * r + c];
  const Pinhole_model<double> lens = pinhole_from(K);
  const double c[3] = {0.4, -0.3, 2.0};
  double pixel[2], J[2][3];
  lens.project(c, pixel, J);
  for (int r = 0; r < 2; ++r) {
    const double Kc = entries[3 * r] * c[0] + entries[3 * r + 1] * c[1] + entries[3 * r + 2] * c[2];
    EXPECT_NEAR(pixel[r], Kc / c[2], 1e-12);
  }
}

}  // namespace
