#include "trel_tools/Transform_estimator.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include <Eigen/Dense>

#include "trel_tools/exception_l.h"

namespace trel {
namespace {

constexpr int kUnknowns = 15;
constexpr int kDims = 3;

template <class T>
using Point_set = std::vector<std::vector<T>>;

// `signature` names the public overload in the error frame.
void check_point_counts(const char* signature, std::size_t original_size, std::size_t target_size) {
  if (original_size != target_size)
    TREL_THROW_AS(signature, "Transform_estimator::estimate_transform() : mismatch on number of points. original size="
               << original_size << " while target size=" << target_size);
}

// Minimum-norm least-squares solution of A x = b through the SVD of A, with
// OpenCV's rank rule for its SVD solve: singular values at or below
// 2 * epsilon * (their sum) count as zero. Unlike cv::solve this also serves
// fewer equations than unknowns.
template <class T>
Eigen::Matrix<T, Eigen::Dynamic, 1> min_norm_solve(const Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic>& A,
                                                   const Eigen::Matrix<T, Eigen::Dynamic, 1>& b) {
  const Eigen::JacobiSVD<Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic>> svd(A, Eigen::ComputeThinU |
                                                                                         Eigen::ComputeThinV);
  const auto& sigma = svd.singularValues();
  const T threshold = 2 * std::numeric_limits<T>::epsilon() * sigma.sum();
  Eigen::Matrix<T, Eigen::Dynamic, 1> x = Eigen::Matrix<T, Eigen::Dynamic, 1>::Zero(A.cols());
  for (Eigen::Index i = 0; i < sigma.size(); ++i)
    if (sigma(i) > threshold) x += svd.matrixV().col(i) * (svd.matrixU().col(i).dot(b) / sigma(i));
  return x;
}

template <class T>
matrix<T> fit_transform(const char* signature, const Point_set<T>& original, const Point_set<T>& target) {
  check_point_counts(signature, original.size(), target.size());
  for (std::size_t i = 0; i < original.size(); ++i) {
    if (original[i].size() != target[i].size() || original[i].size() != kDims)
      TREL_THROW_AS(signature, "Transform_estimator::estimate_transform() : mismatch on dimensionality of point "
                 << i << ". original dims=" << original[i].size() << " while target dims=" << target[i].size());
    for (int c = 0; c < kDims; ++c)
      if (!std::isfinite(original[i][c]) || !std::isfinite(target[i][c]))
        TREL_THROW_AS(signature, "Transform_estimator::estimate_transform() : coordinate "
                                     << c << " of point " << i << " is not finite");
  }
  if (original.empty()) TREL_THROW_AS(signature, "Transform_estimator::estimate_transform() : no point pairs to fit");

  const Eigen::Index n = static_cast<Eigen::Index>(original.size());
  Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic> A =
      Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic>::Zero(kDims * n, kUnknowns);
  Eigen::Matrix<T, Eigen::Dynamic, 1> b(kDims * n);
  for (Eigen::Index i = 0; i < n; ++i) {
    const std::vector<T>& p = original[static_cast<std::size_t>(i)];
    const std::vector<T>& q = target[static_cast<std::size_t>(i)];
    // Row d: h_d . (q, 1) - p_d (h41 q_x + h42 q_y + h43 q_z) = p_d, from p_d w = h_d . (q, 1).
    for (int d = 0; d < kDims; ++d) {
      const Eigen::Index row = kDims * i + d;
      for (int c = 0; c < kDims; ++c) {
        A(row, 4 * d + c) = q[c];
        A(row, 12 + c) = -p[d] * q[c];
      }
      A(row, 4 * d + 3) = 1;
      b(row) = p[d];
    }
  }
  const Eigen::Matrix<T, Eigen::Dynamic, 1> x = min_norm_solve<T>(A, b);
  matrix<T> H(4, 4);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (r != 3 || c != 3) H[r][c] = x(4 * r + c);
  H[3][3] = 1;
  return H;
}

}  // namespace

Transform_estimator::~Transform_estimator() = default;

const matrix<double> Transform_estimator::estimate_transform(std::vector<std::vector<double>>& original,
                                                             std::vector<std::vector<double>>& target) const {
  return fit_transform<double>(TREL_FUNCTION_SIGNATURE, original, target);
}

const matrix<double> Transform_estimator::estimate_transform(std::vector<std::vector<double>*>* original,
                                                             std::vector<std::vector<double>*>* target) const {
  if (!original || !target)
    TREL_THROW("Transform_estimator::estimate_transform() : null point set. original is "
               << (original ? "set" : "null") << " while target is " << (target ? "set" : "null"));
  check_point_counts(TREL_FUNCTION_SIGNATURE, original->size(), target->size());
  Point_set<double> original_points, target_points;
  original_points.reserve(original->size());
  target_points.reserve(target->size());
  for (std::size_t i = 0; i < original->size(); ++i) {
    if (!(*original)[i] || !(*target)[i])
      TREL_THROW("Transform_estimator::estimate_transform() : null point " << i);
    original_points.push_back(*(*original)[i]);
    target_points.push_back(*(*target)[i]);
  }
  return estimate_transform(original_points, target_points);
}

const matrix<double> Transform_estimator::estimate_transform(matrix<double> original, matrix<double> target) const {
  check_point_counts(TREL_FUNCTION_SIGNATURE, original.get_dim1(), target.get_dim1());
  Point_set<double> original_points, target_points;
  for (unsigned i = 0; i < original.get_dim1(); ++i) {
    if (original.get_dim2() != target.get_dim2())
      TREL_THROW("Transform_estimator::estimate_transform() : mismatch on dimension of point "
                 << i << ". original size=" << original.get_dim2() << " while target size=" << target.get_dim2());
    original_points.emplace_back(original[i], original[i] + original.get_dim2());
    target_points.emplace_back(target[i], target[i] + target.get_dim2());
  }
  return estimate_transform(original_points, target_points);
}

}  // namespace trel
