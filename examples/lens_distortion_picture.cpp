// Draws estimate_pose through a strong barrel lens (k1 = -0.3) as a picture: a
// synthetic 640 x 480 wide-angle view of a 13 x 9 grid of points on a wall,
// 15 of whose 117 pixels are gross outliers, with the observed pixels and the
// reprojections (through the lens) of three poses: estimate_pose with the lens
// model; estimate_pose on pixels undistorted by hand (cv::undistortPoints),
// then the pinhole; and estimate_pose ignoring the distortion (the pinhole on
// the observed pixels, reprojected by the pinhole). The caption gives the root
// mean square reprojection error of each over the true inliers.
//
//   lens_distortion_picture [picture]   default: demo/distortion.png

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "trel_pose/pose_estimation.h"
#include "trel_tools/image_utils.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kColumns = 13;
constexpr int kRows = 9;
constexpr int kOutlierEvery = 8;  // every 8th pixel is a gross outlier

const cv::Matx33d kK(420, 0, 320, 0, 420, 240, 0, 0, 1);
const std::vector<double> kDistortion = {-0.3, 0.08, 0.0, 0.0, -0.008};

const cv::Scalar background(0, 0, 0);
const cv::Scalar text_colour(255, 255, 255);
const cv::Scalar observed_colour(255, 255, 255);
const cv::Scalar model_colour(80, 220, 80);         // green
const cv::Scalar undistorted_colour(0, 165, 255);   // orange
const cv::Scalar ignored_colour(255, 80, 255);      // magenta
const cv::Scalar outlier_colour(60, 60, 255);       // red
const cv::Scalar frame_colour(110, 110, 110);
const int font = cv::FONT_HERSHEY_SIMPLEX;

// The pixels of the world points at an estimated pose, through the lens or
// through the pinhole alone.
std::vector<cv::Point2d> reproject(const std::vector<cv::Point3d>& world, const trel::Pose_estimate_result& pose,
                                   bool through_lens) {
  cv::Matx33d R_world_to_cam;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) R_world_to_cam(r, c) = pose.R[c][r];
  cv::Vec3d rvec;
  cv::Rodrigues(R_world_to_cam, rvec);
  const cv::Vec3d tvec = -(R_world_to_cam * cv::Vec3d(pose.centre[0], pose.centre[1], pose.centre[2]));
  std::vector<cv::Point2d> pixels;
  cv::projectPoints(world, rvec, tvec, kK, through_lens ? cv::Mat(kDistortion, true) : cv::Mat(), pixels);
  return pixels;
}

double inlier_rms(const std::vector<cv::Point2d>& predicted, const std::vector<cv::Point2d>& observed,
                  const std::vector<bool>& outlier) {
  double sum = 0.0;
  int n = 0;
  for (std::size_t i = 0; i < predicted.size(); ++i) {
    if (outlier[i]) continue;
    const cv::Point2d d = predicted[i] - observed[i];
    sum += d.dot(d);
    ++n;
  }
  return std::sqrt(sum / n);
}

cv::Point at(const cv::Point2d& p) { return cv::Point(cvRound(p.x), cvRound(p.y)); }

void draw_cross(cv::Mat& m, const cv::Point& c, const cv::Scalar& colour) {
  cv::line(m, c + cv::Point(-4, -4), c + cv::Point(4, 4), colour, 2, cv::LINE_AA);
  cv::line(m, c + cv::Point(-4, 4), c + cv::Point(4, -4), colour, 2, cv::LINE_AA);
}
void draw_observed(cv::Mat& m, const cv::Point& c) { cv::circle(m, c, 2, observed_colour, cv::FILLED, cv::LINE_AA); }
void draw_model(cv::Mat& m, const cv::Point& c) { cv::circle(m, c, 6, model_colour, 1, cv::LINE_AA); }
void draw_undistorted(cv::Mat& m, const cv::Point& c) {
  cv::rectangle(m, c - cv::Point(4, 4), c + cv::Point(4, 4), undistorted_colour, 1, cv::LINE_AA);
}
void draw_ignored(cv::Mat& m, const cv::Point& c) {
  cv::line(m, c + cv::Point(-5, 0), c + cv::Point(5, 0), ignored_colour, 1, cv::LINE_AA);
  cv::line(m, c + cv::Point(0, -5), c + cv::Point(0, 5), ignored_colour, 1, cv::LINE_AA);
}

cv::Mat text_panel(const std::vector<std::string>& lines) {
  cv::Mat panel(static_cast<int>(lines.size()) * 24 + 12, kWidth, CV_8UC3, background);
  for (std::size_t k = 0; k < lines.size(); ++k)
    cv::putText(panel, lines[k], cv::Point(14, static_cast<int>(k + 1) * 24), font, 0.45, text_colour, 1,
                cv::LINE_AA);
  return panel;
}

cv::Mat legend_panel() {
  cv::Mat panel(84, kWidth, CV_8UC3, background);
  auto entry = [&](int column, int row, const std::string& text) {
    const cv::Point symbol(24 + column * 320, 20 + row * 24);
    cv::putText(panel, text, symbol + cv::Point(16, 5), font, 0.45, text_colour, 1, cv::LINE_AA);
    return symbol;
  };
  draw_observed(panel, entry(0, 0, "observed pixel"));
  draw_cross(panel, entry(0, 1, "gross outlier (true)"), outlier_colour);
  draw_model(panel, entry(0, 2, "estimate_pose with the lens model"));
  draw_undistorted(panel, entry(1, 0, "undistorted by hand, then pinhole"));
  draw_ignored(panel, entry(1, 1, "distortion ignored (pinhole)"));
  cv::rectangle(panel, cv::Rect(0, 0, panel.cols, panel.rows), frame_colour, 1);
  return panel;
}

// The wall's grid seen from the true pose through the lens, with noise and outliers.
void make_view(std::vector<cv::Point3d>& world, std::vector<cv::Point2d>& observed, std::vector<bool>& outlier) {
  const cv::Vec3d rvec(0.12, -0.25, 0.05), tvec(-0.1, 0.05, 3.0);  // world to camera
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kColumns; ++c) world.emplace_back(-2.64 + 0.44 * c, -1.76 + 0.44 * r, 0.25 * std::sin(0.7 * c));
  cv::projectPoints(world, rvec, tvec, kK, cv::Mat(kDistortion, true), observed);
  std::mt19937 random(5);
  std::normal_distribution<double> noise(0.0, 0.4);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (std::size_t i = 0; i < observed.size(); ++i) {
    observed[i] += cv::Point2d(noise(random), noise(random));
    outlier.push_back(i % kOutlierEvery == 3);
    if (outlier.back()) observed[i] = cv::Point2d(40.0 + 560.0 * unit(random), 40.0 + 400.0 * unit(random));
  }
}

trel::Pose_estimate_result estimate(const std::vector<cv::Point3d>& world, const std::vector<cv::Point2d>& pixels,
                                    const std::vector<double>& distortion) {
  trel::matrix<double> K(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) K[r][c] = kK(r, c);
  std::vector<double> points, observed;
  for (const cv::Point3d& X : world) points.insert(points.end(), {X.x, X.y, X.z});
  for (const cv::Point2d& p : pixels) observed.insert(observed.end(), {p.x, p.y});
  return trel::estimate_pose(trel::make_camera_model(K, distortion), trel::Points_view(points),
                             trel::Values_view(observed));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string picture = argc > 1 ? argv[1] : "demo/distortion.png";
  try {
    std::vector<cv::Point3d> world;
    std::vector<cv::Point2d> observed, undistorted;
    std::vector<bool> outlier;
    make_view(world, observed, outlier);
    cv::undistortPoints(observed, undistorted, kK, cv::Mat(kDistortion, true), cv::noArray(), kK);

    const trel::Pose_estimate_result with_model = estimate(world, observed, kDistortion);
    const trel::Pose_estimate_result by_hand = estimate(world, undistorted, {});
    const trel::Pose_estimate_result ignored = estimate(world, observed, {});
    const std::vector<cv::Point2d> model_pixels = reproject(world, with_model, true);
    const std::vector<cv::Point2d> hand_pixels = reproject(world, by_hand, true);
    const std::vector<cv::Point2d> ignored_pixels = reproject(world, ignored, false);

    cv::Mat view(kHeight, kWidth, CV_8UC3, background);
    for (std::size_t i = 0; i < world.size(); ++i) {
      draw_ignored(view, at(ignored_pixels[i]));
      draw_undistorted(view, at(hand_pixels[i]));
      draw_model(view, at(model_pixels[i]));
      if (outlier[i])
        draw_cross(view, at(observed[i]), outlier_colour);
      else
        draw_observed(view, at(observed[i]));
    }
    cv::rectangle(view, cv::Rect(0, 0, view.cols, view.rows), frame_colour, 1);

    cv::Mat title(44, kWidth, CV_8UC3, background);
    trel::image_title(title, "estimate_pose, barrel lens k1 = -0.3: 117 points, 15 outliers", font, 0.55,
                      text_colour);
    char line[3][160];
    std::snprintf(line[0], sizeof line[0], "with the lens model: RMS %.2f px over the true inliers, %d inliers found",
                  inlier_rms(model_pixels, observed, outlier), with_model.num_inliers);
    std::snprintf(line[1], sizeof line[1], "undistorted by hand, then pinhole: RMS %.2f px, %d inliers",
                  inlier_rms(hand_pixels, observed, outlier), by_hand.num_inliers);
    std::snprintf(line[2], sizeof line[2], "distortion ignored: RMS %.2f px, %d inliers within 4 px",
                  inlier_rms(ignored_pixels, observed, outlier), ignored.num_inliers);
    const cv::Mat caption = text_panel({line[0], line[1], line[2]});
    const cv::Mat top = trel::join_images_on_top(title, view, true, false);
    const cv::Mat bottom = trel::join_images_on_top(caption, legend_panel(), true, false);
    const cv::Mat whole = trel::join_images_on_top(top, bottom, true, false);

    const std::filesystem::path folder = std::filesystem::path(picture).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder);
    if (!cv::imwrite(picture, whole)) {
      std::cerr << "lens_distortion_picture: could not write " << picture << std::endl;
      return 1;
    }
    std::cout << line[0] << "\n" << line[1] << "\n" << line[2] << "\n";
    std::cout << "Wrote " << picture << " (" << whole.cols << " x " << whole.rows << ")" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "lens_distortion_picture: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
