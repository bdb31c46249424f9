#ifndef TREL_TOOLS_IPLIMAGE_OVERLOADS_H
#define TREL_TOOLS_IPLIMAGE_OVERLOADS_H

// Single-pixel access to legacy IplImage and cv::Mat images.
//
// Coordinates are always (x = column, y = row, channel); channels are
// interleaved, so a channel value lives at byte offset
//   step * y + sizeof(T) * (channels * x + channel)
// from the start of the data (step = widthStep for IplImage, step[0] for
// cv::Mat). The typed accessors are the per-pixel path of image loops: they
// are defined in this header so that they inline to one bounds check and one
// address computation; error text is built only on the failure branch.

#include <cstddef>
#include <cstring>

#include <opencv2/core.hpp>
#include <opencv2/core/types_c.h>

#include "trel_tools/exception_l.h"
#include "trel_tools/export.h"

#if defined(__GNUC__)
#  define TREL_PIX_COLD __attribute__((noinline, cold))
#else
#  define TREL_PIX_COLD
#endif

// Throws from a separate cold function so that the message-building code
// stays out of the inlined fast path; the frame still names the accessor.
#define TREL_PIX_THROW(message_parts) [&]() TREL_PIX_COLD { TREL_THROW(message_parts); }()

namespace trel {

// Typed read of channel `channel` of pixel (x, y) of an IplImage.
// Checks, in order: the depth's bit width (depth without its sign bit must
// equal 8 * sizeof(T), so char and unsigned char both read 8U and 8S, int and
// float both read 32S and 32F and the bits are reinterpreted as T), then
// 0 <= x < width and 0 <= y < height, then 0 <= channel < nChannels.
// Throws exception_l on any failed check. The ROI is ignored.
template <typename T>
T get_pix(const IplImage& img, int x, int y, int channel);

// Typed read of channel `channel` of pixel (x, y) of a cv::Mat.
// Checks, in order: 0 <= x < cols and 0 <= y < rows, 0 <= channel < channels,
// the depth code (7 is refused), the element size of the depth equal to
// sizeof(T) (size only: int reads a 32F matrix as raw bits), and a channel
// count of 1 to 4. Throws exception_l on any failed check.
template <typename T>
T get_pix(const cv::Mat& m, int x, int y, int channel);

// As above, but returns a reference into the matrix data that the caller may
// assign through. Same checks, same order.
template <typename T>
T& get_pix(cv::Mat& m, int x, int y, int channel);

// Depth-independent reads (inline: they are per-pixel paths too): dispatch on the depth to the typed reader of that
// depth (signed depths sign-extend, unsigned ones zero-extend) and convert to
// double. The typed reader's checks apply and throw exception_l. An unknown
// depth writes its message to standard error and throws std::logic_error.
double get_pix(const IplImage& img, int x, int y, int channel);
double get_pix(const cv::Mat& m, int x, int y, int channel);

// Writes value[k] into channel k of pixel (x, y), for every channel of the
// matrix. Integer depths receive the value truncated toward zero, keeping its
// low 8, 16 or 32 bits (no saturation: 256.0 stores 0 in 8U); 32F receives the
// nearest float, 64F the value itself. Throws exception_l, before writing
// anything, when (x, y) is outside the image, the depth code is 7, the matrix
// has more than 4 channels, or a value bound for an integer depth is not a
// finite number within the range of a 64-bit integer.
TREL_TOOLS_EXPORT void set_pix(cv::Mat& m, int x, int y, const cv::Scalar& value);

// Bicubic (Catmull-Rom) interpolation of channel `channel` at the real
// position (x, y). floor(x), floor(y) must lie inside the image, else
// exception_l; neighbours outside the image are replaced by the nearest
// row / column inside it, so the border pixels are replicated.
TREL_TOOLS_EXPORT double interp_pix(const cv::Mat& m, double x, double y, int channel);

// Bilinear interpolation of channel `channel` at (x, y). The base pixel is
// (x, y) truncated toward zero, which must lie inside the image, else
// exception_l; a position in (-1, 0) therefore extrapolates from pixel 0. In
// the last column / row the missing neighbour is replaced by the base pixel.
TREL_TOOLS_EXPORT double interp_pix_linear(const cv::Mat& m, double x, double y, int channel);

// Copies every second row of `src` into the caller-allocated `dst`: rows
// 0, 2, 4, ... or, with `odd_rows`, rows 1, 3, 5, ...
//   y_scale 2 (field extraction): source row r goes to destination row r / 2
//     ((r - 1) / 2 for odd rows); dst has half the rows of src.
//   y_scale 1 (line doubling): source row r goes to destination row r and to
//     its neighbour r + 1 (r - 1 for odd rows) when that row exists.
// Requires src rows == y_scale * dst rows, src cols == x_scale * dst cols and
// equal bytes per pixel; only x_scale 1 and y_scale 1 or 2 are implemented.
// Everything is checked before anything is copied; failures throw exception_l.
// With `odd_rows` a source of at most one row returns before y_scale is
// examined. src and dst may be the same matrix.
TREL_TOOLS_EXPORT void get_rows(const cv::Mat& src, cv::Mat& dst, const int x_scale, const int y_scale,
                                const bool odd_rows);

// The same for IplImage: both images are wrapped as cv::Mat headers sharing
// their data (their ROIs apply). Null images throw exception_l.
TREL_TOOLS_EXPORT void get_rows(const IplImage* src, IplImage* dst, int x_scale, int y_scale, bool odd_rows);

namespace detail {

// Element size in bytes of a cv::Mat depth code 0-6 (8U, 8S, 16U, 16S, 32S,
// 32F, 64F); 0 for code 7.
inline std::size_t mat_depth_size(int depth_code) {
  static const std::size_t kDepthSizes[8] = {1, 1, 2, 2, 4, 4, 8, 0};
  return kDepthSizes[depth_code & 7];
}

// Writes the message and an end of line to standard error, then throws
// std::logic_error with the same text.
[[noreturn]] TREL_TOOLS_EXPORT void unknown_mat_depth(int depth_code);
[[noreturn]] TREL_TOOLS_EXPORT void unknown_ipl_depth(int depth);

// Byte offset of the channel value, with the bounds already checked.
template <typename T>
inline std::size_t pix_offset(std::size_t step, int channels, int x, int y, int channel) {
  return step * static_cast<std::size_t>(y) +
         sizeof(T) * (static_cast<std::size_t>(channels) * static_cast<std::size_t>(x) +
                      static_cast<std::size_t>(channel));
}

// The checks shared by both cv::Mat overloads, in their documented order.
template <typename T>
inline void check_mat_access(const cv::Mat& m, int x, int y, int channel) {
  if (x < 0 || x >= m.cols || y < 0 || y >= m.rows)
    TREL_PIX_THROW("get_pix(): Pixel lookup at (" << x << "," << y << ") but image dimensions are (" << m.cols
                                                  << "," << m.rows << ")");
  const int channels = CV_MAT_CN(m.flags);
  if (channel < 0 || channel >= channels)
    TREL_PIX_THROW("get_pix(): Pixel lookup from channel " << channel << " but image only has " << channels
                                                           << " channels.");
  const int depth_code = CV_MAT_DEPTH(m.flags);
  if (depth_code == 7) TREL_PIX_THROW("Image had unrecognised depth flag " << depth_code);
  if (mat_depth_size(depth_code) != sizeof(T))
    TREL_PIX_THROW("Template parameter had size of " << sizeof(T) << " bytes, but image depth specified "
                                                     << mat_depth_size(depth_code));
  if (channels > 4)
    TREL_PIX_THROW("get_pix<template> : number of image channels was not 1-4, value was : " << channels);
}

}  // namespace detail

// ---- implementation ---------------------------------------------------------

template <typename T>
T get_pix(const IplImage& img, int x, int y, int channel) {
  const int bits = static_cast<int>(8 * sizeof(T));
  const int depth_bits = static_cast<int>(static_cast<unsigned>(img.depth) & 0x7FFFFFFFu);
  if (depth_bits != bits)
    TREL_PIX_THROW("get_pix(): Pixel lookup for image was passed type with size "
                   << bits << " but image has depth " << img.depth << " (" << depth_bits << " without sign bit)");
  if (x < 0 || x >= img.width || y < 0 || y >= img.height)
    TREL_PIX_THROW("get_pix(): Pixel lookup at (" << x << "," << y << ") but image dimensions are (" << img.width
                                                  << "," << img.height << ")");
  if (channel < 0 || channel >= img.nChannels)
    TREL_PIX_THROW("get_pix(): Pixel lookup from channel " << channel << " but image only has " << img.nChannels
                                                           << " channels.");
  // memcpy, not a cast: the bits of another type of the same width are
  // reinterpreted without breaking aliasing rules; it compiles to one load.
  T value;
  std::memcpy(&value,
              img.imageData + detail::pix_offset<T>(static_cast<std::size_t>(img.widthStep), img.nChannels, x, y,
                                                    channel),
              sizeof(T));
  return value;
}

template <typename T>
T get_pix(const cv::Mat& m, int x, int y, int channel) {
  detail::check_mat_access<T>(m, x, y, channel);
  T value;
  std::memcpy(&value, m.data + detail::pix_offset<T>(m.step[0], CV_MAT_CN(m.flags), x, y, channel), sizeof(T));
  return value;
}

template <typename T>
T& get_pix(cv::Mat& m, int x, int y, int channel) {
  detail::check_mat_access<T>(m, x, y, channel);
  return *reinterpret_cast<T*>(m.data + detail::pix_offset<T>(m.step[0], CV_MAT_CN(m.flags), x, y, channel));
}

inline double get_pix(const IplImage& img, int x, int y, int channel) {
  switch (img.depth) {
    case IPL_DEPTH_8U:
      return get_pix<unsigned char>(img, x, y, channel);
    case static_cast<int>(IPL_DEPTH_8S):
      return static_cast<signed char>(get_pix<char>(img, x, y, channel));
    case IPL_DEPTH_16U:
      return get_pix<unsigned short>(img, x, y, channel);
    case static_cast<int>(IPL_DEPTH_16S):
      return get_pix<short>(img, x, y, channel);
    case static_cast<int>(IPL_DEPTH_32S):
      return get_pix<int>(img, x, y, channel);
    case IPL_DEPTH_32F:
      return get_pix<float>(img, x, y, channel);
    case IPL_DEPTH_64F:
      return get_pix<double>(img, x, y, channel);
    default:
      detail::unknown_ipl_depth(img.depth);
  }
}

namespace detail {

template <typename T>
inline double load_mat_value(const cv::Mat& m, int x, int y, int channel) {
  T value;
  std::memcpy(&value, m.data + pix_offset<T>(m.step[0], CV_MAT_CN(m.flags), x, y, channel), sizeof(T));
  return static_cast<double>(value);
}

}  // namespace detail

// The depth is known here, so the element-size check of the typed accessor
// cannot fail; the remaining checks run once and the load is a plain switch.
inline double get_pix(const cv::Mat& m, int x, int y, int channel) {
  const int depth_code = CV_MAT_DEPTH(m.flags);
  if (depth_code > CV_64F) detail::unknown_mat_depth(depth_code);
  if (x < 0 || x >= m.cols || y < 0 || y >= m.rows || channel < 0 || channel >= CV_MAT_CN(m.flags) ||
      CV_MAT_CN(m.flags) > 4)
    detail::check_mat_access<unsigned char>(m, x, y, channel);  // throws with the typed accessor's text
  switch (depth_code) {
    case CV_8U:
      return detail::load_mat_value<unsigned char>(m, x, y, channel);
    case CV_8S:
      // signed char, not char: the sign extension must not depend on the
      // platform's signedness of plain char.
      return detail::load_mat_value<signed char>(m, x, y, channel);
    case CV_16U:
      return detail::load_mat_value<unsigned short>(m, x, y, channel);
    case CV_16S:
      return detail::load_mat_value<short>(m, x, y, channel);
    case CV_32S:
      return detail::load_mat_value<int>(m, x, y, channel);
    case CV_32F:
      return detail::load_mat_value<float>(m, x, y, channel);
    default:
      return detail::load_mat_value<double>(m, x, y, channel);
  }
}

}  // namespace trel

#endif
