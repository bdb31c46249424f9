// Draws what each camera of a rig sees of the rig scene (examples/rig_scene.h)
// and writes all views as one picture: per camera a black image of the
// camera's resolution with the cube's edges and every visible scene point
// projected into it, each point in its own colour of the colour table and
// sized by its disparity, titled with the camera's number; the views joined in
// a grid padded to 4:3.
//
//   rig_views [rig_file [picture]]   defaults: examples/stereo_rig.txt, demo/rig_views.png

#include <algorithm>
#include <exception>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "examples/rig_scene.h"
#include "trel_tools/Camera.h"
#include "trel_tools/colour_codes.h"
#include "trel_tools/configuration.h"
#include "trel_tools/image_utils.h"

namespace {

const cv::Scalar edge_colour(90, 90, 90);
const cv::Scalar title_colour(255, 255, 255);

// The cube is the first eight scene points, x changing fastest, then y, then
// z: corners i and j share an edge when their indices differ in one bit.
void draw_cube_edges(cv::Mat& view, const trel::Camera& camera, const std::vector<trel::Three_d_point>& points) {
  const int steps = 200;
  for (int i = 0; i < 8; ++i)
    for (int bit = 1; bit < 8; bit <<= 1) {
      const int j = i | bit;
      if (j == i) continue;
      const trel::Three_d_point& a = points[i];
      const trel::Three_d_point& b = points[j];
      for (int s = 0; s <= steps; ++s) {
        const double f = static_cast<double>(s) / steps;
        double u = 0.0, v = 0.0, disp = 0.0;
        camera.project(a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z), u, v, disp);
        if (disp != 0.0) cv::circle(view, cv::Point(cvRound(u), cvRound(v)), 1, edge_colour, cv::FILLED);
      }
    }
}

// Draws the visible points; returns how many there were.
int draw_points(cv::Mat& view, const trel::Camera& camera, const std::vector<trel::Three_d_point>& points) {
  int visible = 0;
  for (std::size_t k = 0; k < points.size(); ++k) {
    double u = 0.0, v = 0.0, disp = 0.0;
    camera.project(points[k].x, points[k].y, points[k].z, u, v, disp);
    if (disp == 0.0) continue;
    ++visible;
    const cv::Point at(cvRound(u), cvRound(v));
    const int radius = std::max(3, std::min(12, cvRound(disp / 4.0)));
    const cv::Scalar colour = trel::colour_set_max_contrast(static_cast<int>(k % 20));
    cv::circle(view, at, radius, colour, cv::FILLED, cv::LINE_AA);
    cv::putText(view, std::to_string(k), at + cv::Point(radius + 2, -radius), cv::FONT_HERSHEY_SIMPLEX, 0.45, colour,
                1, cv::LINE_AA);
  }
  return visible;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string rig_file = argc > 1 ? argv[1] : TREL_SAMPLE_RIG;
  const std::string picture = argc > 2 ? argv[2] : "demo/rig_views.png";
  try {
    trel::configuration config(rig_file);
    std::vector<trel::Camera> rig;
    trel::create_camera_vector(rig, config);
    if (rig.empty()) {
      std::cerr << "rig_views: " << rig_file << " describes no camera" << std::endl;
      return 1;
    }
    const std::vector<trel::Three_d_point> points = trel_examples::rig_world_points();
    std::vector<cv::Mat> views;
    for (std::size_t i = 0; i < rig.size(); ++i) {
      cv::Mat view(rig[i].get_image_height(), rig[i].get_image_width(), CV_8UC3, cv::Scalar::all(0));
      draw_cube_edges(view, rig[i], points);
      const int visible = draw_points(view, rig[i], points);
      std::ostringstream title;
      title << "camera " << i << ": " << visible << " of " << points.size() << " points";
      trel::image_title(view, title.str(), cv::FONT_HERSHEY_SIMPLEX, 0.8, title_colour);
      // A thin frame keeps the views apart in the mosaic.
      cv::rectangle(view, cv::Rect(0, 0, view.cols, view.rows), edge_colour, 1);
      std::cout << title.str() << " visible\n";
      views.push_back(view);
    }
    const cv::Mat mosaic = trel::join_images_ordered(views, true, true);
    const std::filesystem::path folder = std::filesystem::path(picture).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder);
    if (!cv::imwrite(picture, mosaic)) {
      std::cerr << "rig_views: could not write " << picture << std::endl;
      return 1;
    }
    std::cout << "Wrote " << picture << " (" << mosaic.cols << " x " << mosaic.rows << ", " << views.size()
              << " views)" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "rig_views: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
