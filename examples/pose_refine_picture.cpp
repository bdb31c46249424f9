// Draws one robust pose refinement (trel::refine_pose with the Cauchy loss) as
// a picture: a synthetic 640 x 480 view of 60 points, a quarter of whose
// observations are gross outliers, with the observed pixels, the reprojection
// of the start pose and of the refined pose, the true outliers marked and the
// points the refinement found to be outliers circled. A title above, and below
// a caption with the reprojection error (root mean square, pixels) before and
// after, over the true inliers and over all points, that of plain least
// squares for comparison, and a legend; the panels
// are joined with the library's image composition.
//
//   pose_refine_picture [picture]   default: demo/pose_refine.png

#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "trel_tools/image_utils.h"
#include "trel_tools/matrix.h"
#include "trel_pose/pose_refinement.h"
#include "trel_tools/rotation.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr double kFocal = 800.0;
constexpr int kPoints = 60;
constexpr int kOutliers = 15;
constexpr double kLossScale = 2.0;  // px

const cv::Scalar background(0, 0, 0);
const cv::Scalar text_colour(255, 255, 255);
const cv::Scalar observed_colour(255, 255, 255);
const cv::Scalar start_colour(0, 165, 255);     // orange
const cv::Scalar result_colour(80, 220, 80);    // green
const cv::Scalar outlier_colour(60, 60, 255);   // red
const cv::Scalar found_colour(255, 80, 255);    // magenta
const cv::Scalar path_colour(110, 110, 110);
const int font = cv::FONT_HERSHEY_SIMPLEX;

// Pixels of the world points seen from pose x (rotation vector, camera centre):
// a point X sits at R^T (X - t) in the camera.
std::vector<cv::Point2d> project(const std::vector<std::vector<double>>& points, const std::vector<double>& x) {
  const trel::matrix<double> R = trel::rot_vec_rad_to_rot_mat(std::vector<double>(x.begin(), x.begin() + 3));
  std::vector<cv::Point2d> pixels;
  for (const auto& X : points) {
    double c[3];
    for (int r = 0; r < 3; ++r)
      c[r] = R[0][r] * (X[0] - x[3]) + R[1][r] * (X[1] - x[4]) + R[2][r] * (X[2] - x[5]);
    pixels.emplace_back(kFocal * c[0] / c[2] + kWidth / 2.0, kFocal * c[1] / c[2] + kHeight / 2.0);
  }
  return pixels;
}

// Root mean square of the point errors, over all points or the true inliers only.
double rms(const std::vector<cv::Point2d>& predicted, const std::vector<cv::Point2d>& observed,
           const std::vector<bool>& outlier, bool inliers_only) {
  double sum = 0.0;
  int n = 0;
  for (std::size_t i = 0; i < predicted.size(); ++i) {
    if (inliers_only && outlier[i]) continue;
    const cv::Point2d d = predicted[i] - observed[i];
    sum += d.dot(d);
    ++n;
  }
  return n > 0 ? std::sqrt(sum / n) : 0.0;
}

cv::Point at(const cv::Point2d& p) { return cv::Point(cvRound(p.x), cvRound(p.y)); }

void draw_cross(cv::Mat& m, const cv::Point& c, int half, const cv::Scalar& colour) {
  cv::line(m, c + cv::Point(-half, -half), c + cv::Point(half, half), colour, 2, cv::LINE_AA);
  cv::line(m, c + cv::Point(-half, half), c + cv::Point(half, -half), colour, 2, cv::LINE_AA);
}

void draw_start(cv::Mat& m, const cv::Point& c) {
  cv::rectangle(m, c - cv::Point(3, 3), c + cv::Point(3, 3), start_colour, 1, cv::LINE_AA);
}
void draw_observed(cv::Mat& m, const cv::Point& c) { cv::circle(m, c, 2, observed_colour, cv::FILLED, cv::LINE_AA); }
void draw_result(cv::Mat& m, const cv::Point& c) { cv::circle(m, c, 5, result_colour, 1, cv::LINE_AA); }
void draw_found(cv::Mat& m, const cv::Point& c) { cv::circle(m, c, 12, found_colour, 2, cv::LINE_AA); }

// A black panel of the view's width with one line of text per entry.
cv::Mat text_panel(const std::vector<std::string>& lines, double scale) {
  const int line_height = cvRound(26 * scale / 0.55);
  cv::Mat panel(static_cast<int>(lines.size()) * line_height + 12, kWidth, CV_8UC3, background);
  for (std::size_t k = 0; k < lines.size(); ++k)
    cv::putText(panel, lines[k], cv::Point(14, static_cast<int>(k + 1) * line_height), font, scale, text_colour, 1,
                cv::LINE_AA);
  return panel;
}

cv::Mat legend_panel() {
  cv::Mat panel(96, kWidth, CV_8UC3, background);
  const double scale = 0.5;
  auto entry = [&](int column, int row, const std::string& text) {
    const cv::Point symbol(24 + column * 320, 22 + row * 26);
    cv::putText(panel, text, symbol + cv::Point(20, 5), font, scale, text_colour, 1, cv::LINE_AA);
    return symbol;
  };
  draw_observed(panel, entry(0, 0, "observed pixel"));
  draw_start(panel, entry(0, 1, "reprojection of the start"));
  draw_result(panel, entry(0, 2, "reprojection of the result"));
  draw_cross(panel, entry(1, 0, "gross outlier (true)"), 5, outlier_colour);
  draw_found(panel, entry(1, 1, "found outlier (error > 2 px)"));
  const cv::Point path = entry(1, 2, "start -> result");
  cv::line(panel, path - cv::Point(8, 0), path + cv::Point(8, 0), path_colour, 1, cv::LINE_AA);
  cv::rectangle(panel, cv::Rect(0, 0, panel.cols, panel.rows), path_colour, 1);
  return panel;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string picture = argc > 1 ? argv[1] : "demo/pose_refine.png";
  try {
    trel::matrix<double> K(3, 3);
    K.set(0, 0, kFocal);
    K.set(1, 1, kFocal);
    K.set(0, 2, kWidth / 2.0);
    K.set(1, 2, kHeight / 2.0);
    K.set(2, 2, 1.0);

    // The true pose and the points, spread over the view 4 to 9 in front of the camera.
    const std::vector<double> truth = {0.3, -0.2, 0.1, 1.0, -0.5, 0.4};
    const trel::matrix<double> R = trel::rot_vec_rad_to_rot_mat(std::vector<double>(truth.begin(), truth.begin() + 3));
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.5);
    std::vector<std::vector<double>> points;
    for (int i = 0; i < kPoints; ++i) {
      const double depth = 4.0 + 5.0 * unit(random);
      const double c[3] = {(unit(random) - 0.5) * 0.7 * depth, (unit(random) - 0.5) * 0.5 * depth, depth};
      std::vector<double> X(3);
      for (int r = 0; r < 3; ++r) X[r] = R[r][0] * c[0] + R[r][1] * c[1] + R[r][2] * c[2] + truth[3 + r];
      points.push_back(X);
    }
    std::vector<cv::Point2d> observed = project(points, truth);
    std::vector<bool> outlier(kPoints, false);
    for (int i = 0; i < kPoints; ++i) {
      observed[i] += cv::Point2d(noise(random), noise(random));
      // Every fourth point becomes a gross outlier anywhere in the view.
      if (i % (kPoints / kOutliers) == 0) {
        outlier[i] = true;
        observed[i] = cv::Point2d(20.0 + (kWidth - 40.0) * unit(random), 20.0 + (kHeight - 40.0) * unit(random));
      }
    }
    std::vector<double> pixels;
    for (const cv::Point2d& p : observed) {
      pixels.push_back(p.x);
      pixels.push_back(p.y);
    }

    // Start: about 1.5 degrees and 0.15 off the truth.
    const std::vector<double> start = {0.32, -0.19, 0.11, 1.1, -0.4, 0.35};
    trel::Pose_refine_options options;  // rotation code 0: rotation vector, then the centre
    options.max_iters = 50;
    options.min_x_step = 1e-9f;
    const trel::Pose_refine_result plain = trel::refine_pose(K, points, pixels, start, options);
    options.loss = trel::Loss::cauchy;
    options.loss_scale = kLossScale;
    const trel::Pose_refine_result robust = trel::refine_pose(K, points, pixels, start, options);

    const std::vector<cv::Point2d> before = project(points, start);
    const std::vector<cv::Point2d> after = project(points, robust.x);
    const std::vector<cv::Point2d> after_plain = project(points, plain.x);

    cv::Mat view(kHeight, kWidth, CV_8UC3, background);
    for (int i = 0; i < kPoints; ++i) cv::line(view, at(before[i]), at(after[i]), path_colour, 1, cv::LINE_AA);
    for (int i = 0; i < kPoints; ++i) draw_start(view, at(before[i]));
    for (int i = 0; i < kPoints; ++i) draw_result(view, at(after[i]));
    int found = 0, found_true = 0;
    for (int i = 0; i < kPoints; ++i) {
      if (outlier[i])
        draw_cross(view, at(observed[i]), 5, outlier_colour);
      else
        draw_observed(view, at(observed[i]));
      if (!robust.summary.inliers[i]) {
        draw_found(view, at(observed[i]));
        ++found;
        if (outlier[i]) ++found_true;
      }
    }
    cv::rectangle(view, cv::Rect(0, 0, view.cols, view.rows), path_colour, 1);

    cv::Mat title(44, kWidth, CV_8UC3, background);
    trel::image_title(title, "refine_pose, Cauchy loss at 2 px: 60 points, 15 gross outliers", font, 0.6,
                      text_colour);

    char line[3][160];
    std::snprintf(line[0], sizeof line[0], "RMS over the 45 true inliers: %.2f px at the start -> %.2f px (Cauchy)",
                  rms(before, observed, outlier, true), rms(after, observed, outlier, true));
    std::snprintf(line[1], sizeof line[1], "RMS over all 60 points: %.1f px at the start -> %.1f px (Cauchy)",
                  robust.summary.initial_rms, robust.summary.final_rms);
    std::snprintf(line[2], sizeof line[2],
                  "plain least squares: %.2f px over the inliers; found %d outliers, %d true",
                  rms(after_plain, observed, outlier, true), found, found_true);
    const cv::Mat caption = text_panel({line[0], line[1], line[2]}, 0.5);

    const cv::Mat top = trel::join_images_on_top(title, view, true, false);
    const cv::Mat bottom = trel::join_images_on_top(caption, legend_panel(), true, false);
    const cv::Mat whole = trel::join_images_on_top(top, bottom, true, false);

    const std::filesystem::path folder = std::filesystem::path(picture).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder);
    if (!cv::imwrite(picture, whole)) {
      std::cerr << "pose_refine_picture: could not write " << picture << std::endl;
      return 1;
    }
    std::cout << line[0] << "\n" << line[1] << "\n" << line[2] << "\n";
    std::cout << "Wrote " << picture << " (" << whole.cols << " x " << whole.rows << ")" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "pose_refine_picture: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
