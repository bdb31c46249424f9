#ifndef TREL_OPT_MIN_NORM_LEAST_SQUARES_H
#define TREL_OPT_MIN_NORM_LEAST_SQUARES_H

#include <vector>

namespace trel {

// Least-squares solution of minimum norm of A x = b, A dense rows x cols.
//
// The singular value decomposition of A comes from a thin Householder QR of A
// (A = Q R, taken over blocks of rows so that the work stays in cache) and a
// one-sided Jacobi SVD of the small cols x cols factor R = U S V^T, so that
// A = (Q U) S V^T has the singular values of R. When A has fewer rows than
// columns the same is done with A^T. Singular values at or below
// 2 * epsilon * (their sum) count as zero, epsilon being the type's machine
// epsilon, so the result is the pseudo-inverse solution with the rank rule of
// cv::solve(..., DECOMP_SVD). When a bound on R's singular values proves that
// none of them can reach that threshold, the SVD would keep them all and the
// solution is R^-1 Q^T b, which back substitution gives directly. A^T A is
// never formed: its condition number would be the square of A's.
//
// The object keeps its scratch storage, so repeated solves of the same size
// allocate nothing.
template <typename T>
class Min_norm_least_squares {
public:
  // a: row-major, element (i, j) at a[i * lda + j], lda >= cols. b: rows values.
  // x: cols values, written last (it may not alias a or b). rows or cols 0
  // gives x = 0. NaN or infinite input gives a non-finite x.
  // error_gram, when given: cols x cols, E^T E for an estimate E of the error
  // in A. A singular value sigma_j with right singular vector v_j counts as
  // zero too when sigma_j <= |E v_j|: along v_j, A is no larger than its error.
  void solve(const T* a, int rows, int cols, int lda, const T* b, T* x, T relative_tolerance = T(0),
             const T* error_gram = nullptr);

  // The same solution as solve(a, rows, cols, lda, b, x), through the normal
  // equations A^T A x = A^T b when that is safe, at a fraction of the cost for
  // tall A. With D the diagonal scaling that gives A D unit columns, the scaled
  // normal matrix is factorised by Cholesky, or, when that shows it singular or
  // nearly so, by a Jacobi eigendecomposition:
  // - kept when every eigenvalue is at least kNormalMaxCondition times below the
  //   largest: x = D (D A^T A D)^-1 D A^T b;
  // - when exactly one eigenvalue is at or below kNormalNullEigenvalue of the
  //   largest and the others are as above, A has one null direction n = D w
  //   (an exactly free parameter combination, such as a quaternion's length):
  //   x is the solution on the other directions, with its component along n
  //   removed, which is the minimum-norm solution.
  // A's own condition number, bounded through D, must moreover stay far from
  // solve's rank threshold. Anything else (wide A, more than kMaxNormalColumns
  // columns, a zero or non-finite column, two null directions, singular values
  // between the two bounds) goes to solve. Where the normal equations are used,
  // x agrees with solve's to about eps times the scaled condition number. The
  // normal equations cannot tell a singular value of A D below about 3e-7 of
  // the largest from an exact zero: such a direction counts as null here,
  // where solve would keep it (and take a step of the size 1 / sigma along it).
  void solve_well_conditioned(const T* a, int rows, int cols, int lda, const T* b, T* x);

  static constexpr int kMaxNormalColumns = 8;
  // Limits of the scaled normal matrix's eigenvalues, relative to the largest.
  static constexpr double kNormalMaxCondition = 1e8;
  static constexpr double kNormalNullEigenvalue = 1e-13;

private:
  void solve_tall(const T* a, int rows, int cols, int lda, const T* b, T* x);
  void solve_wide(const T* a, int rows, int cols, int lda, const T* b, T* x);
  T tolerance_ = T(0);
  const T* error_gram_ = nullptr;  // as passed to solve, for the length of the call
  // x = pinv(M) c for the n x n column-major matrix in square_ (destroyed).
  void solve_square(int n, const T* c, T* x);
  // x = R^-1 c for the upper-triangular R in square_ when R is provably far
  // from the rank threshold (then equal to pinv(R) c); false otherwise, with
  // square_ unchanged.
  bool solve_full_rank(int n, const T* c, T* x);

  std::vector<T> block_;   // column-major stack of R and the next rows, with b's column
  std::vector<T> tau_;     // Householder scalars
  std::vector<T> square_;  // the square factor handed to the SVD
  std::vector<T> v_;       // right singular vectors, column-major
  std::vector<T> c_;       // right-hand side of the square problem
  std::vector<T> sigma_;   // singular values
  std::vector<T> acc_;     // solution being accumulated
  std::vector<T> y_;       // solution of the square problem (wide case)
  std::vector<T> inverse_; // inverse of R for the conditioning bound
  std::vector<T> gram_;    // the error Gram matrix in the square problem's basis (wide case)

  // The normal equations for n <= kMaxNormalColumns columns; false leaves x alone.
  template <int N>
  bool solve_normal(const T* a, int rows, int cols, int lda, const T* b, T* x) const;
};

extern template class Min_norm_least_squares<double>;

}  // namespace trel

#endif
