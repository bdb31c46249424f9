#ifndef TREL_TESTS_SYNTHETIC_SCENE_H
#define TREL_TESTS_SYNTHETIC_SCENE_H

// Seeded synthetic camera scenes with known ground truth, for tests and benchmarks.
//
// Pose convention: R rotates camera axes into world axes and t is the camera
// centre in world coordinates, so a world point X sits at R^T (X - t) in the
// camera. Pixels follow a pinhole camera with one focal length k11 and the
// principal point (k13, k23): u = k11 c0 / c2 + k13, v = k11 c1 / c2 + k23.

#include <cmath>
#include <random>
#include <vector>

#include <opencv2/core.hpp>

#include "trel_tools/matrix.h"

namespace trel_test {

// K = [k11 0 k13; 0 k11 k23; 0 0 1]: one focal length, principal point (k13, k23).
inline trel::matrix<double> intrinsics(double k11, double k13, double k23) {
  trel::matrix<double> K(3, 3);
  K[0][0] = K[1][1] = k11;
  K[0][2] = k13;
  K[1][2] = k23;
  K[2][2] = 1.0;
  return K;
}

struct Scene_options {
  double min_angle = 0.2;        // radians, true rotation angle range
  double max_angle = 2.5;
  double centre_range = 5.0;     // each coordinate of t in [-range, range]
  double min_depth = 4.0;        // camera-frame depth of the points
  double max_depth = 12.0;
  double half_field = 0.6;       // |c0 / c2| and |c1 / c2| at most this
  double k11 = 800.0;
  double k13 = 320.0;
  double k23 = 240.0;
  double pixel_noise = 0.0;      // standard deviation in pixels
  double bearing_noise = 0.0;    // standard deviation of each camera-frame coordinate
};

struct Synthetic_scene {
  std::vector<double> rot_vec;      // axis times angle, radians
  std::vector<double> ang_axis;     // unit axis x, y, z, then the angle
  std::vector<double> quaternion;   // x, y, z, w with w >= 0, unit length
  cv::Matx33d rot_mat;              // camera to world
  std::vector<double> centre;       // t, world frame
  double k11 = 0.0, k13 = 0.0, k23 = 0.0;
  std::vector<std::vector<double>> points_world;
  std::vector<std::vector<double>> points_in_cam;   // R^T (X - t), optionally noisy
  std::vector<std::vector<double>> pixels;          // (u, v), optionally noisy
  std::vector<std::vector<double>> bearing_vectors; // unit-length points_in_cam (noise-free)
};

inline std::vector<double> random_unit_vector(std::mt19937& rng) {
  std::normal_distribution<double> normal(0.0, 1.0);
  for (;;) {
    std::vector<double> v{normal(rng), normal(rng), normal(rng)};
    const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (n > 1e-3) return {v[0] / n, v[1] / n, v[2] / n};
  }
}

// Fills the pose fields from a rotation vector and a camera centre.
inline void set_pose(Synthetic_scene& scene, const std::vector<double>& rot_vec, const std::vector<double>& centre) {
  scene.rot_vec = rot_vec;
  scene.centre = centre;
  const double angle = std::sqrt(rot_vec[0] * rot_vec[0] + rot_vec[1] * rot_vec[1] + rot_vec[2] * rot_vec[2]);
  std::vector<double> axis{0.0, 0.0, 1.0};
  if (angle > 0.0) axis = {rot_vec[0] / angle, rot_vec[1] / angle, rot_vec[2] / angle};
  scene.ang_axis = {axis[0], axis[1], axis[2], angle};
  const double s = std::sin(angle / 2.0), c = std::cos(angle / 2.0);
  scene.quaternion = {s * axis[0], s * axis[1], s * axis[2], c};
  if (c < 0.0)
    for (double& q : scene.quaternion) q = -q;
  // Rodrigues: R = cos θ I + sin θ [a]x + (1 - cos θ) a a^T.
  const double ct = std::cos(angle), st = std::sin(angle), vt = 1.0 - ct;
  const double x = axis[0], y = axis[1], z = axis[2];
  scene.rot_mat = cv::Matx33d(vt * x * x + ct, vt * x * y - st * z, vt * x * z + st * y,
                              vt * x * y + st * z, vt * y * y + ct, vt * y * z - st * x,
                              vt * x * z - st * y, vt * y * z + st * x, vt * z * z + ct);
}

inline Synthetic_scene make_scene(unsigned seed, int num_points, const Scene_options& options = Scene_options()) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto uniform = [&](double lo, double hi) { return lo + (hi - lo) * unit(rng); };
  Synthetic_scene scene;
  const std::vector<double> axis = random_unit_vector(rng);
  const double angle = uniform(options.min_angle, options.max_angle);
  set_pose(scene, {axis[0] * angle, axis[1] * angle, axis[2] * angle},
           {uniform(-options.centre_range, options.centre_range), uniform(-options.centre_range, options.centre_range),
            uniform(-options.centre_range, options.centre_range)});
  scene.k11 = options.k11;
  scene.k13 = options.k13;
  scene.k23 = options.k23;
  std::normal_distribution<double> pixel_noise(0.0, options.pixel_noise > 0.0 ? options.pixel_noise : 1.0);
  std::normal_distribution<double> bearing_noise(0.0, options.bearing_noise > 0.0 ? options.bearing_noise : 1.0);
  const cv::Vec3d t(scene.centre[0], scene.centre[1], scene.centre[2]);
  for (int i = 0; i < num_points; ++i) {
    const double depth = uniform(options.min_depth, options.max_depth);
    const cv::Vec3d cam(uniform(-options.half_field, options.half_field) * depth,
                        uniform(-options.half_field, options.half_field) * depth, depth);
    const cv::Vec3d world = scene.rot_mat * cam + t;
    scene.points_world.push_back({world[0], world[1], world[2]});
    const double norm = cv::norm(cam);
    scene.bearing_vectors.push_back({cam[0] / norm, cam[1] / norm, cam[2] / norm});
    std::vector<double> pixel{options.k11 * cam[0] / cam[2] + options.k13, options.k11 * cam[1] / cam[2] + options.k23};
    std::vector<double> in_cam{cam[0], cam[1], cam[2]};
    if (options.pixel_noise > 0.0)
      for (double& p : pixel) p += pixel_noise(rng);
    if (options.bearing_noise > 0.0)
      for (double& c : in_cam) c += bearing_noise(rng);
    scene.pixels.push_back(pixel);
    scene.points_in_cam.push_back(in_cam);
  }
  return scene;
}

}  // namespace trel_test

#endif
