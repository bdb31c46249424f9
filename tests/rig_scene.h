#ifndef TESTS_RIG_SCENE_H
#define TESTS_RIG_SCENE_H

// Seeded synthetic rigs and the scenes they see, with known ground truth, for
// the rig tests, benchmarks and picture. Convention of trel_pose/rig.h: a
// camera's R turns its axes into rig axes, its centre is given in the rig;
// the rig pose is R_rig_to_world and the rig centre in world.

#include <cmath>
#include <random>
#include <vector>

#include <Eigen/Geometry>

#include "trel_pose/lens_projector.h"
#include "trel_pose/rig.h"

namespace trel_test {

struct Rig_scene_options {
  int cameras = 2;                 // 1 to 4
  bool distortion = false;         // camera 1 with a radial-tangential lens
  int points = 200;                // total over the cameras
  double noise = 0.0;              // pixel noise, standard deviation
  double outlier_share = 0.0;      // observations replaced by random pixels
};

struct Rig_scene {
  trel::Rig rig;
  std::vector<double> points;        // N x 3
  std::vector<double> observations;  // N x 2
  std::vector<int> cameras;          // N
  std::vector<unsigned char> outlier;
  Eigen::Matrix3d R_rig_to_world;
  Eigen::Vector3d centre_in_world;
};

inline Eigen::Matrix3d rotation_of(const Eigen::Vector3d& rotation_vector) {
  const double angle = rotation_vector.norm();
  return angle > 0 ? Eigen::AngleAxisd(angle, rotation_vector / angle).toRotationMatrix()
                   : Eigen::Matrix3d::Identity();
}

// Camera c of a rig: 800 px focal length on a 640 x 480 image; camera 1 sits
// 0.3 to the right turned in by 4 degrees, camera 2 above, pitched down,
// camera 3 looks to the side.
inline trel::Rig_camera rig_scene_camera(int c, bool distortion) {
  trel::Rig_camera camera;
  camera.model.pinhole.fx = 800 + 10 * c;
  camera.model.pinhole.fy = 800 + 10 * c;
  camera.model.pinhole.cx = 320;
  camera.model.pinhole.cy = 240;
  if (c == 1 && distortion) camera.model.lens = trel::make_lens_distortion({-0.12, 0.03, 0.001, -0.0008, 0.0}, false);
  const Eigen::Vector3d rotations[4] = {{0, 0, 0}, {0, -0.07, 0.01}, {0.35, 0, 0}, {0, 1.2, 0}};
  const Eigen::Vector3d centres[4] = {{0, 0, 0}, {0.3, 0, 0.01}, {0.1, -0.25, 0}, {0.15, 0, 0.1}};
  const Eigen::Matrix3d R = rotation_of(rotations[c]);
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < 3; ++k) camera.R_cam_to_rig[3 * r + k] = R(r, k);
    camera.centre_in_rig[r] = centres[c][r];
  }
  return camera;
}

// The pixel of world point X in rig camera c at the rig pose.
inline bool rig_pixel(const trel::Rig& rig, int c, const Eigen::Matrix3d& R_rig_to_world,
                      const Eigen::Vector3d& centre_in_world, const Eigen::Vector3d& X, double pixel[2]) {
  const trel::Rig_camera& camera = rig.cameras[static_cast<std::size_t>(c)];
  const Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>> R_cam_to_rig(camera.R_cam_to_rig);
  const Eigen::Matrix<double, 3, 3, Eigen::RowMajor> R_cam_to_world = R_rig_to_world * R_cam_to_rig;
  const Eigen::Vector3d centre = centre_in_world + R_rig_to_world * Eigen::Map<const Eigen::Vector3d>(camera.centre_in_rig);
  const trel::Lens_camera_at_pose<double> at(camera.model, R_cam_to_world.data());
  if (!(at.depth(X.data(), centre.data()) > 0)) return false;
  at.pixel(X.data(), centre.data(), pixel);
  return true;
}

// Points spread over the cameras in turn, 3 to 9 units in front of each,
// within its image; the rig posed at random about the origin.
inline Rig_scene make_rig_scene(unsigned seed, const Rig_scene_options& o) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0), depth(3.0, 9.0), share(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  Rig_scene scene;
  for (int c = 0; c < o.cameras; ++c) scene.rig.cameras.push_back(rig_scene_camera(c, o.distortion));
  scene.R_rig_to_world = rotation_of(Eigen::Vector3d(unit(random), unit(random), unit(random)) * 0.8);
  scene.centre_in_world = Eigen::Vector3d(unit(random), unit(random), unit(random)) * 2.0;
  for (int i = 0; i < o.points; ++i) {
    const int c = i % o.cameras;
    const trel::Rig_camera& camera = scene.rig.cameras[static_cast<std::size_t>(c)];
    const double z = depth(random);
    const Eigen::Vector3d in_camera(unit(random) * 0.35 * z, unit(random) * 0.27 * z, z);
    const Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>> R_cam_to_rig(camera.R_cam_to_rig);
    const Eigen::Vector3d in_rig = R_cam_to_rig * in_camera + Eigen::Map<const Eigen::Vector3d>(camera.centre_in_rig);
    const Eigen::Vector3d X = scene.R_rig_to_world * in_rig + scene.centre_in_world;
    double pixel[2] = {0, 0};
    rig_pixel(scene.rig, c, scene.R_rig_to_world, scene.centre_in_world, X, pixel);
    const bool outlier = share(random) < o.outlier_share;
    if (outlier) {
      pixel[0] = 320 + 320 * unit(random);
      pixel[1] = 240 + 240 * unit(random);
    } else {
      pixel[0] += o.noise * noise(random);
      pixel[1] += o.noise * noise(random);
    }
    scene.points.insert(scene.points.end(), {X.x(), X.y(), X.z()});
    scene.observations.insert(scene.observations.end(), {pixel[0], pixel[1]});
    scene.cameras.push_back(c);
    scene.outlier.push_back(outlier ? 1 : 0);
  }
  return scene;
}

}  // namespace trel_test

#endif
