#include "trel_opt/min_norm_least_squares.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace trel {

namespace {

// Rows of A taken per block of the tall QR: with 7 columns the stacked block
// holds about 7 KB, well inside the first-level cache.
constexpr int kBlockRows = 128;

// Sweeps of the Jacobi SVD; a few suffice for the sizes met here, and the
// bound keeps NaN input from looping.
constexpr int kMaxSweeps = 60;

template <typename T>
T dot(const T* a, const T* b, int n) {
  T s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += a[i] * b[i];
    s1 += a[i + 1] * b[i + 1];
    s2 += a[i + 2] * b[i + 2];
    s3 += a[i + 3] * b[i + 3];
  }
  for (; i < n; ++i) s0 += a[i] * b[i];
  return (s0 + s1) + (s2 + s3);
}

// Euclidean norm, rescaled when the plain sum of squares would overflow or
// lose its value to underflow.
template <typename T>
T norm2(const T* a, int n) {
  const T ss = dot(a, a, n);
  const T tiny = std::numeric_limits<T>::min() / std::numeric_limits<T>::epsilon();
  if (std::isfinite(ss) && ss > tiny) return std::sqrt(ss);
  T scale = 0;
  for (int i = 0; i < n; ++i) scale = std::max(scale, std::fabs(a[i]));
  if (!(scale > T(0)) || !std::isfinite(scale)) return std::sqrt(ss);  // NaN or infinity stays so
  T s = 0;
  for (int i = 0; i < n; ++i) {
    const T t = a[i] / scale;
    s += t * t;
  }
  return scale * std::sqrt(s);
}

// c[0 .. len] = (I - tau v v^T) c[0 .. len] with v = (1, v_below[0 .. len - 1]).
template <typename T>
void apply_reflector(const T* v_below, T tau, T* c, int len) {
  const T f = tau * (c[0] + dot(v_below, c + 1, len));
  c[0] -= f;
  for (int i = 0; i < len; ++i) c[i + 1] -= f * v_below[i];
}

// Largest |a[i]| (NaN entries are passed over).
template <typename T>
T max_abs(const T* a, std::size_t count) {
  T largest = 0;
  for (std::size_t i = 0; i < count; ++i) largest = std::max(largest, std::fabs(a[i]));
  return largest;
}

// The power of two 2^-e that brings `largest` into [0.5, 1): an exact scaling
// that keeps squared norms in range. 1 for zero or non-finite `largest`.
template <typename T>
T power_of_two_scale(T largest) {
  int exponent = 0;
  if (largest > T(0) && std::isfinite(largest)) std::frexp(largest, &exponent);
  return std::ldexp(T(1), -exponent);
}

// Householder QR of the m x n column-major matrix w (leading dimension ld):
// reduces columns 0 .. nred - 1 (nred <= m) and applies each reflector to all
// n columns. Afterwards the upper triangle of the first nred columns is R,
// reflector k is H_k = I - tau[k] v v^T with v[k] = 1 and v[k+1 ..] stored
// below the diagonal of column k, and H_{nred-1} ... H_0 times the input is
// the matrix held now.
template <typename T>
void householder_qr(T* w, int m, int n, int ld, int nred, T* tau) {
  for (int k = 0; k < nred; ++k) {
    T* col = w + static_cast<std::size_t>(k) * ld;
    const int len = m - k - 1;
    const T below = norm2(col + k + 1, len);
    if (below == T(0)) {
      tau[k] = 0;
      continue;
    }
    const T alpha = col[k];
    const T beta = -std::copysign(std::hypot(alpha, below), alpha);
    tau[k] = (beta - alpha) / beta;
    const T scale = T(1) / (alpha - beta);
    for (int i = k + 1; i < m; ++i) col[i] *= scale;
    col[k] = beta;
    for (int j = k + 1; j < n; ++j)
      apply_reflector(col + k + 1, tau[k], w + static_cast<std::size_t>(j) * ld + k, len);
  }
}

}  // namespace

template <typename T>
void Min_norm_least_squares<T>::solve(const T* a, int rows, int cols, int lda, const T* b, T* x,
                                      T relative_tolerance, const T* error_gram) {
  tolerance_ = relative_tolerance > T(0) ? relative_tolerance : T(0);
  if (cols <= 0) return;
  if (rows <= 0) {
    std::fill(x, x + cols, T(0));
    return;
  }
  error_gram_ = error_gram;
  if (rows >= cols)
    solve_tall(a, rows, cols, lda, b, x);
  else
    solve_wide(a, rows, cols, lda, b, x);
  error_gram_ = nullptr;
}

// A (rows >= cols) is reduced block by block: the stack [R c; next rows of A b]
// is triangularised again for every block, which gives the R and c = Q^T b of
// the rows seen so far. The rest of Q^T b only adds a constant to the residual.
template <typename T>
void Min_norm_least_squares<T>::solve_tall(const T* a, int rows, int cols, int lda, const T* b, T* x) {
  const int n = cols + 1;  // A's columns and b
  const int ld = cols + kBlockRows;
  block_.resize(static_cast<std::size_t>(ld) * n);
  tau_.resize(cols);
  T* w = block_.data();

  int next = 0;  // first row of A not yet in R
  int top = 0;   // rows of the stack taken by R
  while (next < rows) {
    const int take = std::min(rows - next, ld - top);
    for (int i = 0; i < take; ++i) {
      const T* arow = a + static_cast<std::size_t>(next + i) * lda;
      T* dst = w + top + i;
      for (int j = 0; j < cols; ++j) dst[static_cast<std::size_t>(j) * ld] = arow[j];
      dst[static_cast<std::size_t>(cols) * ld] = b[next + i];
    }
    const int m = top + take;
    householder_qr(w, m, n, ld, cols, tau_.data());
    // Keep R and c; clear the reflectors stored under R's diagonal.
    for (int j = 0; j < cols; ++j)
      for (int i = j + 1; i < cols; ++i) w[static_cast<std::size_t>(j) * ld + i] = 0;
    next += take;
    top = cols;
  }

  square_.resize(static_cast<std::size_t>(cols) * cols);
  for (int j = 0; j < cols; ++j)
    std::copy(w + static_cast<std::size_t>(j) * ld, w + static_cast<std::size_t>(j) * ld + cols,
              square_.begin() + static_cast<std::size_t>(j) * cols);
  c_.assign(w + static_cast<std::size_t>(cols) * ld, w + static_cast<std::size_t>(cols) * ld + cols);
  if (!solve_full_rank(cols, c_.data(), x)) solve_square(cols, c_.data(), x);
}

// A (rows < cols): A^T = Q R with Q cols x rows, so A = R^T Q^T and
// pinv(A) b = Q pinv(R^T) b.
template <typename T>
void Min_norm_least_squares<T>::solve_wide(const T* a, int rows, int cols, int lda, const T* b, T* x) {
  const int ld = cols;
  block_.resize(static_cast<std::size_t>(cols) * rows);
  tau_.resize(rows);
  T* w = block_.data();
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      w[static_cast<std::size_t>(i) * ld + j] = a[static_cast<std::size_t>(i) * lda + j];
  householder_qr(w, cols, rows, ld, rows, tau_.data());

  square_.assign(static_cast<std::size_t>(rows) * rows, T(0));
  for (int j = 0; j < rows; ++j)  // R^T, column-major
    for (int i = 0; i <= j; ++i) square_[static_cast<std::size_t>(i) * rows + j] = w[static_cast<std::size_t>(j) * ld + i];
  if (error_gram_ != nullptr) {
    // The right singular vectors of A are Q w for those w of R^T: the error
    // Gram matrix in that basis is Q^T G Q, of which the leading rows x rows
    // block is kept (G symmetric: the reflectors go down the columns twice,
    // with a transpose between).
    gram_.assign(error_gram_, error_gram_ + static_cast<std::size_t>(cols) * cols);
    for (int pass = 0; pass < 2; ++pass) {
      for (int j = 0; j < cols; ++j) {
        T* column = gram_.data() + static_cast<std::size_t>(j) * cols;
        for (int k = 0; k < rows; ++k)
          if (tau_[k] != T(0)) apply_reflector(w + static_cast<std::size_t>(k) * ld + k + 1, tau_[k], column + k, cols - k - 1);
      }
      for (int i = 0; i < cols; ++i)
        for (int j = i + 1; j < cols; ++j)
          std::swap(gram_[static_cast<std::size_t>(i) * cols + j], gram_[static_cast<std::size_t>(j) * cols + i]);
    }
    for (int j = 0; j < rows; ++j)
      for (int i = 0; i < rows; ++i) gram_[static_cast<std::size_t>(j) * rows + i] = gram_[static_cast<std::size_t>(j) * cols + i];
    gram_.resize(static_cast<std::size_t>(rows) * rows);
    error_gram_ = gram_.data();
  }
  y_.resize(rows);
  solve_square(rows, b, y_.data());

  // x = H_0 ... H_{rows-1} [y; 0], applied from the last reflector on.
  acc_.assign(cols, T(0));
  std::copy(y_.begin(), y_.end(), acc_.begin());
  for (int k = rows - 1; k >= 0; --k)
    if (tau_[k] != T(0))
      apply_reflector(w + static_cast<std::size_t>(k) * ld + k + 1, tau_[k], acc_.data() + k, cols - k - 1);
  std::copy(acc_.begin(), acc_.end(), x);
}

namespace {

// c0[i], c1[i] = cs c0[i] - sn c1[i], sn c0[i] + cs c1[i] for i < n.
template <typename T>
void rotate_pair(T* c0, T* c1, T cs, T sn, int n) {
  for (int i = 0; i < n; ++i) {
    const T a = c0[i], b = c1[i];
    c0[i] = cs * a - sn * b;
    c1[i] = sn * a + cs * b;
  }
}

// The sweeps of one-sided Jacobi: plane rotations applied to the columns of
// the n x n column-major M until they are mutually orthogonal, M V = U S,
// accumulating V (n x n, column-major) from the identity. norms holds n values
// of scratch. N as for jacobi_min_norm_solve below.
template <typename T, int N>
void jacobi_orthogonalise(T* m, T* v, T* norms, int size) {
  const int n = N > 0 ? N : size;
  const std::size_t nn = static_cast<std::size_t>(n) * n;
  std::fill(v, v + nn, T(0));
  for (int j = 0; j < n; ++j) v[static_cast<std::size_t>(j) * n + j] = 1;

  // Squared column norms, recomputed every sweep and updated after each rotation.
  const T eps = std::numeric_limits<T>::epsilon();
  for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
    for (int j = 0; j < n; ++j) norms[j] = dot(m + static_cast<std::size_t>(j) * n, m + static_cast<std::size_t>(j) * n, n);
    bool rotated = false;
    for (int p = 0; p < n - 1; ++p) {
      T* mp = m + static_cast<std::size_t>(p) * n;
      T* vp = v + static_cast<std::size_t>(p) * n;
      for (int q = p + 1; q < n; ++q) {
        T* mq = m + static_cast<std::size_t>(q) * n;
        const T alpha = norms[p], beta = norms[q];
        const T gamma = dot(mp, mq, n);
        if (!(std::fabs(gamma) > eps * std::sqrt(alpha) * std::sqrt(beta))) continue;
        rotated = true;
        // Rotation angle from cot(2 theta) = zeta; |t| <= 1, so 1 + t^2 cannot overflow.
        const T zeta = (beta - alpha) / (T(2) * gamma);
        const T abs_zeta = std::fabs(zeta);
        const T root = abs_zeta < T(1e150) ? std::sqrt(T(1) + zeta * zeta) : abs_zeta;
        const T t = std::copysign(T(1), zeta) / (abs_zeta + root);
        const T cs = T(1) / std::sqrt(T(1) + t * t);
        const T sn = cs * t;
        rotate_pair(mp, mq, cs, sn, n);
        rotate_pair(vp, v + static_cast<std::size_t>(q) * n, cs, sn, n);
        norms[p] = alpha - t * gamma;
        norms[q] = beta + t * gamma;
      }
    }
    if (!rotated) break;
  }
}

// One-sided Jacobi SVD of the n x n column-major M (destroyed), M V = U S:
// column j of M then holds sigma_j u_j, so
// pinv(M) c = sum over kept j of v_j (m_j . c) / sigma_j^2, written to x.
// N > 0 fixes n at compile time, so that the short loops unroll; N = 0 takes n.
// v holds n x n, sigma and acc n values of scratch. Singular values at or below
// 2 eps sum(sigma) or tolerance * max(sigma) count as zero, and, when gram
// (n x n, symmetric: E^T E for the error E of M) is given, so does sigma_j
// when sigma_j^2 <= v_j^T gram v_j.
template <typename T, int N>
void jacobi_min_norm_solve(T* m, T* v, T* sigma, T* acc, int size, const T* c, T* x, T tolerance,
                           const T* gram) {
  const int n = N > 0 ? N : size;
  const std::size_t nn = static_cast<std::size_t>(n) * n;
  // Power-of-two scaling keeps squared norms in range and changes no digit.
  const T down = power_of_two_scale(max_abs(m, nn));
  for (std::size_t i = 0; i < nn; ++i) m[i] *= down;
  jacobi_orthogonalise<T, N>(m, v, sigma, n);

  const T eps = std::numeric_limits<T>::epsilon();
  // Singular values of the scaled matrix; the threshold scales with them.
  T sum = 0, largest = 0;
  for (int j = 0; j < n; ++j) {
    sigma[j] = norm2(m + static_cast<std::size_t>(j) * n, n);
    sum += sigma[j];
    largest = std::max(largest, sigma[j]);
  }
  const T threshold = std::max(T(2) * eps * sum, tolerance * largest);
  std::fill(acc, acc + n, T(0));
  for (int j = 0; j < n; ++j) {
    if (std::fabs(sigma[j]) <= threshold) continue;
    const T* vj = v + static_cast<std::size_t>(j) * n;
    if (gram != nullptr) {
      // |E v_j|^2, compared on the scale of the scaled matrix.
      T error2 = 0;
      for (int i = 0; i < n; ++i) error2 += vj[i] * dot(gram + static_cast<std::size_t>(i) * n, vj, n);
      if (sigma[j] * sigma[j] <= error2 * down * down) continue;
    }
    const T* mj = m + static_cast<std::size_t>(j) * n;
    // m_j . c / sigma_j^2 on the scaled matrix; pinv(M) = pinv(M 2^-e) 2^-e.
    const T coef = dot(mj, c, n) / (sigma[j] * sigma[j]) * down;
    for (int i = 0; i < n; ++i) acc[i] += coef * vj[i];
  }
  std::copy(acc, acc + n, x);
}

}  // namespace

template <typename T>
void Min_norm_least_squares<T>::solve_square(int n, const T* c, T* x) {
  const std::size_t nn = static_cast<std::size_t>(n) * n;
  v_.resize(nn);
  sigma_.resize(n);
  acc_.resize(n);
  T* m = square_.data();
  switch (n) {  // the sizes of the pose problems
    case 6: jacobi_min_norm_solve<T, 6>(m, v_.data(), sigma_.data(), acc_.data(), n, c, x, tolerance_, error_gram_); break;
    case 7: jacobi_min_norm_solve<T, 7>(m, v_.data(), sigma_.data(), acc_.data(), n, c, x, tolerance_, error_gram_); break;
    default: jacobi_min_norm_solve<T, 0>(m, v_.data(), sigma_.data(), acc_.data(), n, c, x, tolerance_, error_gram_); break;
  }
}

// When a bound on R's singular values shows that none can reach the rank
// threshold, the SVD would keep all of them and its solution is R^-1 c: then
// back substitution gives it at a fraction of the cost. The bound uses
// sigma_min >= 1 / |R^-1|_F and sum(sigma) <= sqrt(n) |R|_F; the margin covers
// the rounding in the computed inverse many times over.
template <typename T>
bool Min_norm_least_squares<T>::solve_full_rank(int n, const T* c, T* x) {
  const T* r = square_.data();  // upper triangular, column-major
  auto at = [n](int i, int j) { return static_cast<std::size_t>(j) * n + i; };
  // R's strict lower triangle holds zeros, so its largest entry is R's.
  const T largest = max_abs(r, static_cast<std::size_t>(n) * n);
  if (!(largest > T(0)) || !std::isfinite(largest)) return false;
  const T down = power_of_two_scale(largest);

  // Inverse of the scaled R, column by column.
  inverse_.assign(static_cast<std::size_t>(n) * n, T(0));
  T* inv = inverse_.data();
  T r_norm2 = 0, inv_norm2 = 0;
  for (int j = 0; j < n; ++j) {
    inv[at(j, j)] = T(1) / (r[at(j, j)] * down);
    for (int i = j - 1; i >= 0; --i) {
      T s = 0;
      for (int k = i + 1; k <= j; ++k) s += r[at(i, k)] * down * inv[at(k, j)];
      inv[at(i, j)] = -s / (r[at(i, i)] * down);
    }
    for (int i = 0; i <= j; ++i) {
      const T e = r[at(i, j)] * down;
      r_norm2 += e * e;
      inv_norm2 += inv[at(i, j)] * inv[at(i, j)];
    }
  }
  const T eps = std::numeric_limits<T>::epsilon();
  const T margin = 1000;
  T limit = T(1) / (T(2) * eps * std::sqrt(static_cast<T>(n)) * margin);
  // sigma_min > tolerance * sigma_max follows from |R|_F |R^-1|_F < 1 / tolerance.
  if (tolerance_ > T(0)) limit = std::min(limit, T(1) / (T(10) * tolerance_));
  if (!(std::sqrt(r_norm2) * std::sqrt(inv_norm2) < limit)) return false;
  if (error_gram_ != nullptr) {
    // |E v| <= |E|_F = sqrt(trace), and sigma_min >= 1 / |R^-1|_F on R's scale:
    // nothing is cut when the bound clears the error twice over.
    T trace = 0;
    for (int i = 0; i < n; ++i) trace += error_gram_[static_cast<std::size_t>(i) * n + i];
    if (!(T(2) * std::sqrt(trace) * down * std::sqrt(inv_norm2) < T(1))) return false;
  }

  // R' y = c by back substitution, then x = y * down.
  acc_.resize(n);
  T* y = acc_.data();
  for (int i = n - 1; i >= 0; --i) {
    T s = c[i];
    for (int k = i + 1; k < n; ++k) s -= r[at(i, k)] * down * y[k];
    y[i] = s / (r[at(i, i)] * down);
  }
  for (int i = 0; i < n; ++i) x[i] = y[i] * down;
  return true;
}

namespace {

// The upper triangle of A^T A (n x n, row-major) and A^T b, in one pass over
// A's rows. N > 0 fixes n at compile time; the sums live in local arrays, which
// no store through a or b can touch, so that they stay in registers.
template <typename T, int N, int M>
void accumulate_normal(const T* a, int rows, int size, int lda, const T* b, T* ata, T* atb) {
  const int n = N > 0 ? N : size;
  T acc[M * M] = {};
  T rhs[M] = {};
  for (int i = 0; i < rows; ++i) {
    const T* r = a + static_cast<std::size_t>(i) * lda;
    const T bi = b[i];
    for (int p = 0; p < n; ++p) {
      const T rp = r[p];
      rhs[p] += rp * bi;
      for (int q = p; q < n; ++q) acc[p * M + q] += rp * r[q];
    }
  }
  for (int p = 0; p < n; ++p) {
    atb[p] = rhs[p];
    for (int q = p; q < n; ++q) ata[p * n + q] = acc[p * M + q];
  }
}

// Cyclic Jacobi eigendecomposition of the symmetric n x n row-major m
// (destroyed): afterwards m's diagonal holds the eigenvalues and column j of
// w (row-major) the eigenvector of eigenvalue m[j][j].
template <typename T>
void jacobi_eigen(T* m, T* w, int n) {
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) w[i * n + j] = i == j ? T(1) : T(0);
  const T eps = std::numeric_limits<T>::epsilon();
  for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
    bool rotated = false;
    for (int p = 0; p < n - 1; ++p)
      for (int q = p + 1; q < n; ++q) {
        const T mpq = m[p * n + q];
        if (!(std::fabs(mpq) > eps * T(0.01) * std::sqrt(std::fabs(m[p * n + p] * m[q * n + q]))) ||
            mpq == T(0))
          continue;
        rotated = true;
        // cot(2 phi) = theta; t = tan(phi), the root of magnitude at most 1.
        const T theta = (m[q * n + q] - m[p * n + p]) / (T(2) * mpq);
        const T abs_theta = std::fabs(theta);
        const T root = abs_theta < T(1e150) ? std::sqrt(T(1) + theta * theta) : abs_theta;
        const T t = std::copysign(T(1), theta) / (abs_theta + root);
        const T c = T(1) / std::sqrt(T(1) + t * t);
        const T s = c * t;
        for (int k = 0; k < n; ++k) {  // columns p and q
          const T kp = m[k * n + p], kq = m[k * n + q];
          m[k * n + p] = c * kp - s * kq;
          m[k * n + q] = s * kp + c * kq;
        }
        for (int k = 0; k < n; ++k) {  // rows p and q
          const T pk = m[p * n + k], qk = m[q * n + k];
          m[p * n + k] = c * pk - s * qk;
          m[q * n + k] = s * pk + c * qk;
        }
        m[p * n + q] = m[q * n + p] = T(0);
        for (int k = 0; k < n; ++k) {
          const T kp = w[k * n + p], kq = w[k * n + q];
          w[k * n + p] = c * kp - s * kq;
          w[k * n + q] = s * kp + c * kq;
        }
      }
    if (!rotated) break;
  }
}

}  // namespace

template <typename T>
void Min_norm_least_squares<T>::solve_well_conditioned(const T* a, int rows, int cols, int lda, const T* b, T* x) {
  if (cols > 0 && rows >= cols && cols <= kMaxNormalColumns) {
    bool done = false;
    switch (cols) {  // the sizes of the pose problems
      case 6: done = solve_normal<6>(a, rows, cols, lda, b, x); break;
      case 7: done = solve_normal<7>(a, rows, cols, lda, b, x); break;
      default: done = solve_normal<0>(a, rows, cols, lda, b, x); break;
    }
    if (done) return;
  }
  solve(a, rows, cols, lda, b, x);
}

template <typename T>
template <int N>
bool Min_norm_least_squares<T>::solve_normal(const T* a, int rows, int cols, int lda, const T* b, T* x) const {
  constexpr int M = kMaxNormalColumns;
  const int n = N > 0 ? N : cols;
  T ata[M * M], atb[M];
  accumulate_normal<T, N, M>(a, rows, n, lda, b, ata, atb);

  // D = diag(A^T A)^-1/2 gives A D unit columns; ns = D A^T A D, g = D A^T b.
  T d[M], ns[M * M], g[M];
  T d_min = std::numeric_limits<T>::infinity(), d_max = 0;
  for (int p = 0; p < n; ++p) {
    const T diag = ata[p * n + p];
    if (!(diag > T(0)) || !std::isfinite(diag)) return false;
    d[p] = T(1) / std::sqrt(diag);
    d_min = std::min(d_min, d[p]);
    d_max = std::max(d_max, d[p]);
  }
  T trace = 0;
  for (int p = 0; p < n; ++p) {
    g[p] = atb[p] * d[p];
    if (!std::isfinite(g[p])) return false;
    for (int q = p; q < n; ++q) ns[p * n + q] = ns[q * n + p] = ata[p * n + q] * d[p] * d[q];
    trace += ns[p * n + p];
  }
  if (!std::isfinite(trace)) return false;
  const T eps = std::numeric_limits<T>::epsilon();
  // cond(A) <= sqrt(cond(ns)) cond(D): solve cuts no singular value when this
  // stays far below 1 / (2 eps n), its rank threshold.
  const T rank_limit = T(1) / (T(2) * eps * static_cast<T>(n) * T(1000));
  const auto far_from_rank_limit = [&](T condition) { return std::sqrt(condition) * (d_max / d_min) < rank_limit; };
  T y[M];

  // Cholesky ns = L L^T; cond(ns) <= trace(ns) |L^-1|_F^2.
  T l[M * M] = {};
  bool positive = true;
  for (int j = 0; j < n && positive; ++j) {
    T sum = ns[j * n + j];
    for (int k = 0; k < j; ++k) sum -= l[j * n + k] * l[j * n + k];
    if (!(sum > T(0))) {
      positive = false;
      break;
    }
    l[j * n + j] = std::sqrt(sum);
    for (int i = j + 1; i < n; ++i) {
      T v = ns[i * n + j];
      for (int k = 0; k < j; ++k) v -= l[i * n + k] * l[j * n + k];
      l[i * n + j] = v / l[j * n + j];
    }
  }
  if (positive) {
    T inv[M * M] = {};
    T inv_norm2 = 0;
    for (int j = 0; j < n; ++j) {
      inv[j * n + j] = T(1) / l[j * n + j];
      for (int i = j + 1; i < n; ++i) {
        T s = 0;
        for (int k = j; k < i; ++k) s += l[i * n + k] * inv[k * n + j];
        inv[i * n + j] = -s / l[i * n + i];
      }
      for (int i = j; i < n; ++i) inv_norm2 += inv[i * n + j] * inv[i * n + j];
    }
    const T condition = trace * inv_norm2;
    if (condition <= T(kNormalMaxCondition) && far_from_rank_limit(condition)) {
      for (int i = 0; i < n; ++i) {  // L z = g
        T s = g[i];
        for (int k = 0; k < i; ++k) s -= l[i * n + k] * y[k];
        y[i] = s / l[i * n + i];
      }
      for (int i = n - 1; i >= 0; --i) {  // L^T y = z
        T s = y[i];
        for (int k = i + 1; k < n; ++k) s -= l[k * n + i] * y[k];
        y[i] = s / l[i * n + i];
      }
      for (int p = 0; p < n; ++p) x[p] = y[p] * d[p];
      return true;
    }
  }

  // Singular or nearly so: the eigenvalues tell a null direction from a small one.
  T w[M * M];
  jacobi_eigen(ns, w, n);
  T largest = 0;
  for (int j = 0; j < n; ++j) largest = std::max(largest, ns[j * n + j]);
  if (!(largest > T(0)) || !std::isfinite(largest)) return false;
  int null_index = -1;
  T smallest_kept = largest;
  for (int j = 0; j < n; ++j) {
    const T mu = ns[j * n + j];
    if (mu <= T(kNormalNullEigenvalue) * largest) {
      if (null_index >= 0) return false;  // two null directions
      null_index = j;
    } else {
      smallest_kept = std::min(smallest_kept, mu);
    }
  }
  const T condition = largest / smallest_kept;
  if (!(condition <= T(kNormalMaxCondition)) || !far_from_rank_limit(condition)) return false;
  for (int p = 0; p < n; ++p) y[p] = 0;
  for (int j = 0; j < n; ++j) {
    if (j == null_index) continue;
    T wg = 0;
    for (int p = 0; p < n; ++p) wg += w[p * n + j] * g[p];
    const T coef = wg / ns[j * n + j];
    for (int p = 0; p < n; ++p) y[p] += coef * w[p * n + j];
  }
  for (int p = 0; p < n; ++p) y[p] *= d[p];
  if (null_index >= 0) {
    // A (D w) = 0: remove the component along D w, leaving the minimum norm.
    T nv[M], nn = 0, ny = 0;
    for (int p = 0; p < n; ++p) {
      nv[p] = d[p] * w[p * n + null_index];
      nn += nv[p] * nv[p];
      ny += nv[p] * y[p];
    }
    for (int p = 0; p < n; ++p) y[p] -= ny / nn * nv[p];
  }
  std::copy(y, y + n, x);
  return true;
}

template class Min_norm_least_squares<double>;

}  // namespace trel
