#include "trel_tools/IplImage_overloads.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <iostream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <type_traits>

#include <opencv2/core/core_c.h>

namespace trel {

#define TREL_INSTANTIATE_GET_PIX(T)                                                     \
  template TREL_TOOLS_EXPORT T get_pix<T>(const IplImage&, int, int, int);        \
  template TREL_TOOLS_EXPORT T get_pix<T>(const cv::Mat&, int, int, int);         \
  template TREL_TOOLS_EXPORT T& get_pix<T>(cv::Mat&, int, int, int);

TREL_INSTANTIATE_GET_PIX(char)
TREL_INSTANTIATE_GET_PIX(unsigned char)
TREL_INSTANTIATE_GET_PIX(short)
TREL_INSTANTIATE_GET_PIX(unsigned short)
TREL_INSTANTIATE_GET_PIX(int)
TREL_INSTANTIATE_GET_PIX(float)
TREL_INSTANTIATE_GET_PIX(double)

#undef TREL_INSTANTIATE_GET_PIX

namespace detail {

void unknown_mat_depth(int depth_code) {
  std::stringstream text;
  text << "get_pix:: Unrecognised cv::Mat depth " << depth_code;
  std::cerr << text.str() << std::endl;
  throw std::logic_error(text.str());
}

void unknown_ipl_depth(int depth) {
  std::stringstream text;
  text << "get_pix:: Unrecognised unsigned depth " << depth;
  std::cerr << text.str() << std::endl;
  throw std::logic_error(text.str());
}

}  // namespace detail

namespace {

// A floored or truncated coordinate for an error text: printed as the integer
// it became, or as the real value when it has no int representation (NaN,
// infinities, huge positions).
struct Int_position {
  double value;
};

std::ostream& operator<<(std::ostream& out, const Int_position& p) {
  if (p.value >= static_cast<double>(INT_MIN) && p.value <= static_cast<double>(INT_MAX))
    return out << static_cast<int>(p.value);
  return out << p.value;
}

bool inside(double ix, double iy, const cv::Mat& m) {
  // Written so that NaN fails.
  return ix >= 0.0 && ix < static_cast<double>(m.cols) && iy >= 0.0 && iy < static_cast<double>(m.rows);
}

// Catmull-Rom cubic through p0..p3, evaluated at fraction f between p1 and p2.
double catmull_rom(double p0, double p1, double p2, double p3, double f) {
  return p1 + 0.5 * f * ((p2 - p0) + f * ((2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3) + f * (3.0 * (p1 - p2) + p3 - p0)));
}

// Largest magnitude for which truncation to a 64-bit integer is defined.
constexpr double kInt64Limit = 9223372036854775808.0;  // 2^63

bool fits_int64(double v) { return v >= -kInt64Limit && v < kInt64Limit; }

// Truncates toward zero and keeps the low bits of T's width (wraps, no
// saturation).
template <typename T>
void store_integer(cv::Mat& m, int x, int y, int channel, double v) {
  using Unsigned = typename std::make_unsigned<T>::type;
  const Unsigned bits = static_cast<Unsigned>(static_cast<unsigned long long>(static_cast<long long>(v)));
  T stored;
  std::memcpy(&stored, &bits, sizeof(T));
  get_pix<T>(m, x, y, channel) = stored;
}

}  // namespace

void set_pix(cv::Mat& m, int x, int y, const cv::Scalar& value) {
  if (x < 0 || x >= m.cols || y < 0 || y >= m.rows)
    TREL_THROW("requested position " << x << "," << y << " was outside image " << m.cols << "," << m.rows);
  const int depth_code = m.depth();
  if (depth_code == 7) TREL_THROW("Unrecognised cv::Mat depth " << depth_code);
  const int channels = m.channels();
  const bool integer_depth = depth_code != CV_32F && depth_code != CV_64F;
  // Validate every value before the first write, so that a failure leaves the
  // pixel untouched; a cv::Scalar holds four values.
  if (integer_depth) {
    for (int k = 0; k < channels && k < 4; ++k)
      if (!fits_int64(value[k]))
        TREL_THROW("set_pix(): value " << value[k] << " for channel " << k
                                       << " cannot be stored in an integer image depth");
  }
  for (int k = 0; k < channels; ++k) {
    // A matrix of more than 4 channels fails on channel 0 inside the accessor.
    const double v = k < 4 ? value[k] : 0.0;
    switch (depth_code) {
      case CV_8U:
        store_integer<unsigned char>(m, x, y, k, v);
        break;
      case CV_8S:
        store_integer<char>(m, x, y, k, v);
        break;
      case CV_16U:
        store_integer<unsigned short>(m, x, y, k, v);
        break;
      case CV_16S:
        store_integer<short>(m, x, y, k, v);
        break;
      case CV_32S:
        store_integer<int>(m, x, y, k, v);
        break;
      case CV_32F:
        get_pix<float>(m, x, y, k) = static_cast<float>(v);
        break;
      default:  // CV_64F
        get_pix<double>(m, x, y, k) = v;
        break;
    }
  }
}

namespace {

// The check of both interpolators, raised in the caller's frame: the pixel
// (ix, iy) that the position (x, y) was rounded to must lie inside m.
void check_interp_position(const Frame& frame, const cv::Mat& m, double x, double y, double ix, double iy) {
  if (inside(ix, iy, m)) return;
  std::stringstream text;
  text << "interp_pix() : the requested position " << x << "," << y << " rounded down to position "
       << Int_position{ix} << "," << Int_position{iy} << " outside image " << m.cols << "," << m.rows;
  detail::throw_origin(frame.file, frame.line, frame.signature, text.str());
}

}  // namespace

double interp_pix(const cv::Mat& m, double x, double y, int channel) {
  const double fx_floor = std::floor(x);
  const double fy_floor = std::floor(y);
  check_interp_position(TREL_FRAME, m, x, y, fx_floor, fy_floor);
  const int ix = static_cast<int>(fx_floor);
  const int iy = static_cast<int>(fy_floor);
  const double fx = x - ix;
  const double fy = y - iy;
  const int last_row = m.rows - 1;
  const int last_col = m.cols - 1;

  double q[4];
  for (int k = 0; k < 4; ++k) {
    int r = iy - 1 + k;
    r = r < 0 ? 0 : (r > last_row ? last_row : r);
    const double p1 = get_pix(m, ix, r, channel);
    const double p0 = ix == 0 ? p1 : get_pix(m, ix - 1, r, channel);
    double p2 = p1;
    double p3 = p1;
    if (ix < last_col) {
      p2 = get_pix(m, ix + 1, r, channel);
      p3 = ix + 1 == last_col ? p2 : get_pix(m, ix + 2, r, channel);
    }
    q[k] = catmull_rom(p0, p1, p2, p3, fx);
  }
  return catmull_rom(q[0], q[1], q[2], q[3], fy);
}

double interp_pix_linear(const cv::Mat& m, double x, double y, int channel) {
  const double tx = std::trunc(x);
  const double ty = std::trunc(y);
  check_interp_position(TREL_FRAME, m, x, y, tx, ty);
  const int ix = static_cast<int>(tx);
  const int iy = static_cast<int>(ty);
  const bool last_col = ix == m.cols - 1;
  const bool last_row = iy == m.rows - 1;

  const double p00 = get_pix(m, ix, iy, channel);
  const double p10 = last_col ? p00 : get_pix(m, ix + 1, iy, channel);
  const double p01 = last_row ? p00 : get_pix(m, ix, iy + 1, channel);
  double p11;
  if (last_col)
    p11 = p01;
  else if (last_row)
    p11 = p10;
  else
    p11 = get_pix(m, ix + 1, iy + 1, channel);

  const double fx = x - ix;
  const double fy = y - iy;
  return (fx * p10 + (1.0 - fx) * p00) * (1.0 - fy) + (fx * p11 + (1.0 - fx) * p01) * fy;
}

void get_rows(const cv::Mat& src, cv::Mat& dst, const int x_scale, const int y_scale, const bool odd_rows) {
  // Products in 64 bits: a scale times a row count must not overflow.
  if (static_cast<long long>(src.rows) != static_cast<long long>(y_scale) * dst.rows)
    TREL_THROW("framework_utils::get_rows() : yScale : " << y_scale << " and sizes don't align." << src.rows << " "
                                                         << dst.rows);
  if (static_cast<long long>(src.cols) != static_cast<long long>(x_scale) * dst.cols)
    TREL_THROW("framework_utils::get_rows() : xScale : " << x_scale << " and sizes don't align." << src.cols << " "
                                                         << dst.cols);
  if (src.elemSize() != dst.elemSize())
    TREL_THROW("framework_utils::get_rows() : Src and Dest are different element sizes.");
  if (x_scale != 1) TREL_THROW("framework_utils::get_rows() : Haven't implemented this yet!");
  if (odd_rows && src.rows <= 1) return;
  if (y_scale != 1 && y_scale != 2) TREL_THROW("framework_utils::get_rows() : Haven't implemented this yet!");

  const std::size_t row_bytes = static_cast<std::size_t>(src.cols) * src.elemSize();
  // memmove: with line doubling src and dst may be one matrix.
  for (int r = odd_rows ? 1 : 0; r < src.rows; r += 2) {
    const uchar* from = src.ptr(r);
    if (y_scale == 2) {
      std::memmove(dst.ptr(odd_rows ? (r - 1) / 2 : r / 2), from, row_bytes);
    } else {
      std::memmove(dst.ptr(r), from, row_bytes);
      const int neighbour = odd_rows ? r - 1 : r + 1;
      if (neighbour >= 0 && neighbour < dst.rows) std::memmove(dst.ptr(neighbour), from, row_bytes);
    }
  }
}

void get_rows(const IplImage* src, IplImage* dst, int x_scale, int y_scale, bool odd_rows) {
  TREL_CHECK(src != nullptr && dst != nullptr, "framework_utils::get_rows() : source or destination image is null");
  const cv::Mat src_mat = cv::cvarrToMat(src);
  cv::Mat dst_mat = cv::cvarrToMat(dst);
  get_rows(src_mat, dst_mat, x_scale, y_scale, odd_rows);
}

}  // namespace trel
