// Builds the camera rig described by a configuration file, prints every camera
// and then, per camera, where the scene points of rig_scene.h land in its image
// (u = column, v = row, disparity) and where they come back to when the pixel
// and disparity are back-projected. Not visible points print as such.
//
//   rig_demo [rig_file]     default: examples/stereo_rig.txt
#include <cmath>
#include <exception>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "examples/rig_scene.h"
#include "trel_tools/Camera.h"
#include "trel_tools/configuration.h"

namespace {

// The point's text form with three decimals.
std::string text(const trel::Three_d_point& point) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(3) << point;
  return out.str();
}

void print_views(const trel::Camera& camera, const std::vector<trel::Three_d_point>& points) {
  std::cout << "  " << std::left << std::setw(20) << "world point" << std::right << std::setw(9) << "u"
            << std::setw(9) << "v" << std::setw(9) << "disp" << "   back-projected          error\n";
  for (const trel::Three_d_point& point : points) {
    trel::Three_d_point seen, back;
    camera.project(point, seen);
    std::cout << "  " << std::left << std::setw(20) << text(point) << std::right;
    if (seen.z == 0) {
      std::cout << "   not visible\n";
      continue;
    }
    camera.unproject(seen, back);
    const double error = std::sqrt((back.x - point.x) * (back.x - point.x) + (back.y - point.y) * (back.y - point.y) +
                                   (back.z - point.z) * (back.z - point.z));
    std::cout << std::setw(9) << seen.x << std::setw(9) << seen.y << std::setw(9) << seen.z << "   " << std::left
              << std::setw(24) << text(back) << std::right << std::scientific << std::setprecision(1) << error
              << std::fixed << std::setprecision(2) << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string location = argc > 1 ? argv[1] : TREL_SAMPLE_RIG;
  std::cout << "Reading camera rig: " << location << std::endl;
  try {
    trel::configuration config(location);
    std::vector<trel::Camera> rig;
    trel::create_camera_vector(rig, config);
    std::cout << rig.size() << " cameras\n";
    const std::vector<trel::Three_d_point> points = trel_examples::rig_world_points();
    std::cout << std::fixed << std::setprecision(2);
    for (std::size_t i = 0; i < rig.size(); ++i) {
      std::cout << "\n-- camera " << i << ": ";
      // The text form prints the intrinsics only; the extrinsics as read follow it.
      std::cout << rig[i] << "extrinsics=(";
      const std::vector<double> extrinsics = rig[i].get_extrinsics();
      std::cout << std::setprecision(4);
      for (std::size_t k = 0; k < extrinsics.size(); ++k) std::cout << (k ? "," : "") << extrinsics[k];
      std::cout << std::setprecision(2) << ")\n";
      print_views(rig[i], points);
    }
  } catch (const std::exception& e) {
    std::cerr << "The rig could not be built:\n" << e.what();
    return 1;
  }
  return 0;
}
