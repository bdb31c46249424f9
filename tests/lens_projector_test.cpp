// The lens camera at a pose: its pixels against OpenCV's projections of the same
// pose, and its Jacobians with respect to (delta, t) and the point against
// central differences.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "trel_pose/lens_projector.h"
#include "trel_pose/pose_kernel.h"
#include "trel_tools/rotation.h"

namespace {

using namespace trel;

constexpr double kPixelTolerance = 1e-9;
constexpr double kStep = 1e-6;
constexpr double kJacobianTolerance = 1e-5;  // pixels per unit, against differences of kStep

struct Lens_case {
  std::vector<double> coefficients;
  bool fisheye;
};

const Lens_case kLenses[] = {
    {{}, false},
    {{-0.28, 0.07, 0.0012, -0.0008}, false},
    {{-0.3, 0.1, 0.001, 0.002, -0.02}, false},
    {{0.5, -0.2, 0.0005, -0.001, 0.01, 0.8, -0.1, 0.02}, false},
    {{0.05, -0.01, 0.002, -0.0003}, true},
};

struct Pose_case {
  std::vector<double> rot_vec;  // R_cam_to_world
  std::vector<double> centre_in_world;
  std::vector<double> point_in_world;
};

const Pose_case kPoses[] = {
    {{0.0, 0.0, 0.0}, {0.0, 0.0, -5.0}, {0.3, -0.2, 1.0}},
    {{0.2, -0.1, 0.3}, {1.0, 2.0, -4.0}, {0.5, 1.5, 2.0}},
    {{-1.2, 0.4, 2.5}, {-3.0, 0.5, 1.0}, {2.0, -1.0, 0.5}},
};

Lens_camera_model<double> camera_of(const Lens_case& l) {
  Lens_camera_model<double> m;
  m.pinhole.fx = 700.0, m.pinhole.fy = 690.0, m.pinhole.cx = 320.0, m.pinhole.cy = 240.0;
  m.pinhole.skew = l.fisheye ? 700.0 * 0.002 : 0.0;  // OpenCV's pinhole has no skew; its fisheye has alpha
  m.lens = make_lens_distortion(l.coefficients, l.fisheye);
  return m;
}

std::vector<double> rotation_of(const Pose_case& p) {
  const matrix<double> R = rot_vec_rad_to_rot_mat(p.rot_vec);
  std::vector<double> out(9);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out[3 * r + c] = R[r][c];
  return out;
}

// Camera-frame z of the pose's point, to keep it in front (moves it along the axis).
std::vector<double> visible_point(const Pose_case& p, const std::vector<double>& R) {
  std::vector<double> X = p.point_in_world;
  double z = 0.0;
  for (int k = 0; k < 3; ++k) z += R[3 * k + 2] * (X[k] - p.centre_in_world[k]);
  if (z < 1.0)
    for (int k = 0; k < 3; ++k) X[k] += (3.0 - z) * R[3 * k + 2];
  return X;
}

TEST(LensProjector, PixelsAreOpenCvsAtThePose) {
  for (const Lens_case& l : kLenses) {
    const Lens_camera_model<double> camera = camera_of(l);
    for (const Pose_case& p : kPoses) {
      const std::vector<double> R = rotation_of(p);
      const std::vector<double> X = visible_point(p, R);
      double ours[2];
      Lens_camera_at_pose<double>(camera, R.data()).pixel(X.data(), p.centre_in_world.data(), ours);
      // OpenCV's pose maps world to camera: c = R^T X - R^T t.
      cv::Matx33d Rt;
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) Rt(r, c) = R[3 * c + r];
      const cv::Vec3d t(p.centre_in_world[0], p.centre_in_world[1], p.centre_in_world[2]);
      cv::Vec3d rvec;
      cv::Rodrigues(Rt, rvec);
      const cv::Vec3d tvec = -(Rt * t);
      const cv::Matx33d K(camera.pinhole.fx, l.fisheye ? 0.0 : camera.pinhole.skew, camera.pinhole.cx, 0,
                          camera.pinhole.fy, camera.pinhole.cy, 0, 0, 1);
      std::vector<cv::Point2d> theirs;
      const std::vector<cv::Point3d> world = {cv::Point3d(X[0], X[1], X[2])};
      if (l.fisheye)
        cv::fisheye::projectPoints(world, theirs, rvec, tvec, K, l.coefficients, camera.pinhole.skew / camera.pinhole.fx);
      else
        cv::projectPoints(world, rvec, tvec, K, l.coefficients, theirs);
      EXPECT_NEAR(ours[0], theirs[0].x, kPixelTolerance * 1e3);  // OpenCV's Rodrigues round trip costs ~1e-10 px
      EXPECT_NEAR(ours[1], theirs[0].y, kPixelTolerance * 1e3);
    }
  }
}

TEST(LensProjector, JacobiansAreTheCentralDifferences) {
  for (const Lens_case& l : kLenses) {
    const Lens_camera_model<double> camera = camera_of(l);
    for (const Pose_case& p : kPoses) {
      const std::vector<double> R = rotation_of(p);
      const std::vector<double> X = visible_point(p, R);
      double v[3], pixel[2], a[2][3], J[2][6];
      Lens_camera_at_pose<double>(camera, R.data()).rows(X.data(), p.centre_in_world.data(), v, pixel, a);
      for (int r = 0; r < 2; ++r) pose_jacobian_row(a[r], v, J[r]);
      for (int d = 0; d < 9; ++d) {  // delta, t, X
        double at[2][2];
        for (int s = 0; s < 2; ++s) {
          const double h = s == 0 ? kStep : -kStep;
          std::vector<double> Rs = R, t = p.centre_in_world, Xs = X;
          double delta[3] = {0, 0, 0};
          if (d < 3) delta[d] = h, rotate_by_vector(delta, Rs.data());
          else if (d < 6) t[d - 3] += h;
          else Xs[d - 6] += h;
          Lens_camera_at_pose<double>(camera, Rs.data()).pixel(Xs.data(), t.data(), at[s]);
        }
        for (int r = 0; r < 2; ++r) {
          const double analytic = d < 6 ? J[r][d] : a[r][d - 6];
          const double numeric = (at[0][r] - at[1][r]) / (2 * kStep);
          EXPECT_NEAR(analytic, numeric, kJacobianTolerance * std::max(1.0, std::fabs(numeric)))
              << "coefficients " << l.coefficients.size() << (l.fisheye ? " fisheye" : "") << ", row " << r
              << ", column " << d;
        }
      }
    }
  }
}

}  // namespace
