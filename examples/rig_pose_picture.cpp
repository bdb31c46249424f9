// Draws the pose of a stereo rig found among outliers (trel::estimate_rig_pose)
// against the pose of its left camera alone (trel::estimate_pose): both
// 640 x 480 views of a synthetic rig (the right camera with lens distortion),
// 80 observations over the two views of which 30 % are gross outliers. In
// each view the observed pixels, those the rig pose keeps as inliers (green
// ring) and those it rejects (red cross); for every inlier the reprojection
// error of the rig pose (green) and of the left-only pose (orange), drawn 25
// times longer than it is. The caption gives the root mean square
// reprojection error over the inliers per camera of both poses.
//
//   rig_pose_picture [picture]   default: demo/rig_pose.png

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "tests/rig_scene.h"
#include "trel_pose/pose_estimation.h"
#include "trel_pose/rig_pose.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr double kMagnification = 25.0;

const cv::Scalar text_colour(255, 255, 255);
const cv::Scalar observed_colour(200, 200, 200);
const cv::Scalar inlier_colour(80, 220, 80);    // green
const cv::Scalar outlier_colour(60, 60, 255);   // red
const cv::Scalar left_colour(0, 165, 255);      // orange
const int font = cv::FONT_HERSHEY_SIMPLEX;

struct Rig_pose {
  Eigen::Matrix3d R;
  Eigen::Vector3d t;
};

Rig_pose pose_of(const trel::matrix<double>& R, const std::vector<double>& centre) {
  Rig_pose p;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) p.R(r, c) = R[r][c];
    p.t[r] = centre[static_cast<std::size_t>(r)];
  }
  return p;
}

// The left camera's observations alone, posed by estimate_pose; the left
// camera is the rig frame, so its pose is the rig's.
Rig_pose left_only_pose(const trel_test::Rig_scene& s) {
  std::vector<double> points, observations;
  for (std::size_t i = 0; i < s.cameras.size(); ++i)
    if (s.cameras[i] == 0) {
      points.insert(points.end(), s.points.begin() + 3 * i, s.points.begin() + 3 * i + 3);
      observations.insert(observations.end(), s.observations.begin() + 2 * i, s.observations.begin() + 2 * i + 2);
    }
  const trel::Pose_estimate_result r =
      trel::estimate_pose(s.rig.cameras[0].model, trel::Points_view(points), observations);
  return pose_of(r.R, r.centre);
}

cv::Point2d observed(const trel_test::Rig_scene& s, std::size_t i) {
  return {s.observations[2 * i], s.observations[2 * i + 1]};
}

// The pixel of observation i's point at the pose, and its error to the observation.
cv::Point2d error_at(const trel_test::Rig_scene& s, const Rig_pose& p, std::size_t i) {
  double pixel[2];
  const Eigen::Vector3d X(s.points[3 * i], s.points[3 * i + 1], s.points[3 * i + 2]);
  trel_test::rig_pixel(s.rig, s.cameras[i], p.R, p.t, X, pixel);
  return cv::Point2d(pixel[0], pixel[1]) - observed(s, i);
}

// RMS of the errors of camera c's inliers at the pose.
double rms(const trel_test::Rig_scene& s, const Rig_pose& p, const std::vector<unsigned char>& inliers, int c) {
  double sum = 0;
  int count = 0;
  for (std::size_t i = 0; i < s.cameras.size(); ++i)
    if (s.cameras[i] == c && inliers[i]) {
      const cv::Point2d e = error_at(s, p, i);
      sum += e.dot(e);
      ++count;
    }
  return count > 0 ? std::sqrt(sum / count) : std::nan("");
}

cv::Mat draw_view(const trel_test::Rig_scene& s, int c, const Rig_pose& rig, const Rig_pose& left,
                  const std::vector<unsigned char>& inliers) {
  cv::Mat view(kHeight, kWidth, CV_8UC3, cv::Scalar(0, 0, 0));
  for (std::size_t i = 0; i < s.cameras.size(); ++i) {
    if (s.cameras[i] != c) continue;
    const cv::Point2d o = observed(s, i);
    cv::circle(view, o, 1, observed_colour, cv::FILLED, cv::LINE_AA);
    if (!inliers[i]) {
      cv::drawMarker(view, o, outlier_colour, cv::MARKER_TILTED_CROSS, 9, 1, cv::LINE_AA);
      continue;
    }
    cv::circle(view, o, 5, inlier_colour, 1, cv::LINE_AA);
    cv::line(view, o, o + kMagnification * error_at(s, left, i), left_colour, 1, cv::LINE_AA);
    cv::line(view, o, o + kMagnification * error_at(s, rig, i), inlier_colour, 2, cv::LINE_AA);
  }
  cv::rectangle(view, cv::Rect(0, 0, kWidth, kHeight), cv::Scalar(90, 90, 90), 1);
  cv::putText(view, c == 0 ? "left camera" : "right camera (lens distortion)", {10, 24}, font, 0.6, text_colour, 1,
              cv::LINE_AA);
  return view;
}

cv::Mat text_band(const std::vector<std::string>& lines, int width) {
  cv::Mat band(14 + 24 * static_cast<int>(lines.size()), width, CV_8UC3, cv::Scalar(0, 0, 0));
  for (std::size_t k = 0; k < lines.size(); ++k)
    cv::putText(band, lines[k], {12, 26 + 24 * static_cast<int>(k)}, font, 0.55, text_colour, 1, cv::LINE_AA);
  return band;
}

std::string figure(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

}  // namespace

int main(int argc, char** argv) try {
  const std::string path = argc > 1 ? argv[1] : "demo/rig_pose.png";
  trel_test::Rig_scene_options o;
  o.cameras = 2;
  o.distortion = true;
  o.points = 80;
  o.noise = 0.7;
  o.outlier_share = 0.3;
  const trel_test::Rig_scene s = trel_test::make_rig_scene(21, o);
  const trel::Rig_estimate_result estimated =
      trel::estimate_rig_pose(s.rig, trel::Points_view(s.points), trel::Pixels_view(s.observations), s.cameras);
  const Rig_pose rig = pose_of(estimated.R, estimated.centre), left = left_only_pose(s);

  cv::Mat views;
  cv::hconcat(draw_view(s, 0, rig, left, estimated.inliers), draw_view(s, 1, rig, left, estimated.inliers), views);
  const int rejected = static_cast<int>(s.cameras.size()) - estimated.num_inliers;
  const std::vector<std::string> title = {
      "estimate_rig_pose: one pose from both views of a stereo rig, " + std::to_string(s.cameras.size()) +
      " observations, " + std::to_string(rejected) + " rejected as outliers"};
  const std::vector<std::string> caption = {
      "RMS over the inliers, px:  rig pose  left " + figure(rms(s, rig, estimated.inliers, 0)) + ", right " +
          figure(rms(s, rig, estimated.inliers, 1)) + "   |   left-only pose  left " +
          figure(rms(s, left, estimated.inliers, 0)) + ", right " + figure(rms(s, left, estimated.inliers, 1)),
      "green ring: inlier of the rig pose   red cross: outlier   lines: reprojection error x25,",
      "green of the rig pose, orange of the left camera's pose alone (estimate_pose)"};
  cv::Mat picture;
  cv::vconcat(std::vector<cv::Mat>{text_band(title, views.cols), views, text_band(caption, views.cols)}, picture);
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder);
  if (!cv::imwrite(path, picture)) throw std::runtime_error("could not write " + path);
  std::cout << "wrote " << path << " (" << picture.cols << " x " << picture.rows << ")\n" << caption[0] << "\n";
  return 0;
} catch (const std::exception& e) {
  std::cerr << e.what() << "\n";
  return 1;
}
