#include "trel_tools/IplImage_overloads.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <opencv2/core/core_c.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Interpolation results are sums of a few products of small integers.
constexpr double kInterpTolerance = 1e-9;

using trel_test::detail_thrown;
using trel_test::Ipl_ptr;

Ipl_ptr make_ipl(int width, int height, int depth, int channels) {
  Ipl_ptr img(cvCreateImage(cvSize(width, height), depth, channels));
  std::memset(img->imageData, 0, static_cast<std::size_t>(img->imageSize));
  return img;
}

template <typename T>
void poke_ipl(IplImage& img, int x, int y, int channel, T value) {
  std::memcpy(img.imageData + img.widthStep * y + sizeof(T) * (img.nChannels * x + channel), &value, sizeof(T));
}

// One depth: its codes, an in-range sample value (negative for signed depths,
// so sign extension shows) and a writer of that value as the depth's type.
struct Depth_case {
  const char* name;
  int ipl_depth;
  int mat_depth;
  double value;
  void (*poke)(IplImage&, int, int, int, double);
};

template <typename T>
void poke_as(IplImage& img, int x, int y, int channel, double v) {
  poke_ipl<T>(img, x, y, channel, static_cast<T>(v));
}

const std::vector<Depth_case>& depth_cases() {
  static const std::vector<Depth_case> cases = {
      {"8U", IPL_DEPTH_8U, CV_8U, 250.0, &poke_as<unsigned char>},
      {"8S", static_cast<int>(IPL_DEPTH_8S), CV_8S, -100.0, &poke_as<signed char>},
      {"16U", IPL_DEPTH_16U, CV_16U, 65000.0, &poke_as<unsigned short>},
      {"16S", static_cast<int>(IPL_DEPTH_16S), CV_16S, -32000.0, &poke_as<short>},
      {"32S", static_cast<int>(IPL_DEPTH_32S), CV_32S, -2000000000.0, &poke_as<int>},
      {"32F", IPL_DEPTH_32F, CV_32F, -1.5, &poke_as<float>},
      {"64F", IPL_DEPTH_64F, CV_64F, -1e-300, &poke_as<double>},
  };
  return cases;
}

TEST(GetPixDouble, ReadsEveryDepthAndChannelCountOfBothImageKinds) {
  for (const Depth_case& d : depth_cases()) {
    for (int channels = 1; channels <= 4; ++channels) {
      SCOPED_TRACE(std::string(d.name) + " channels " + std::to_string(channels));
      Ipl_ptr img = make_ipl(5, 3, d.ipl_depth, channels);
      const int last = channels - 1;
      d.poke(*img, 4, 2, last, d.value);
      d.poke(*img, 3, 2, 0, 7.0);
      EXPECT_EQ(trel::get_pix(*img, 4, 2, last), d.value);
      EXPECT_EQ(trel::get_pix(*img, 3, 2, 0), 7.0);
      EXPECT_EQ(trel::get_pix(*img, 0, 0, 0), 0.0);

      // The same bytes seen as a cv::Mat header.
      const cv::Mat m = cv::cvarrToMat(img.get());
      ASSERT_EQ(m.depth(), d.mat_depth);
      EXPECT_EQ(trel::get_pix(m, 4, 2, last), d.value);
      EXPECT_EQ(trel::get_pix(m, 3, 2, 0), 7.0);
      if (channels > 1) {
        EXPECT_EQ(trel::get_pix(m, 4, 2, 0), 0.0);
      }
    }
  }
}

TEST(GetPixTyped, ChecksDepthBySizeOnlyAndReinterpretsBits) {
  Ipl_ptr img32s = make_ipl(2, 2, static_cast<int>(IPL_DEPTH_32S), 1);
  poke_ipl<int>(*img32s, 1, 1, 0, 0x3F800000);  // the bits of 1.0f
  EXPECT_EQ(trel::get_pix<float>(*img32s, 1, 1, 0), 1.0f);
  const cv::Mat m32s = cv::cvarrToMat(img32s.get());
  EXPECT_EQ(trel::get_pix<float>(m32s, 1, 1, 0), 1.0f);

  cv::Mat m32f(1, 1, CV_32FC1, cv::Scalar(1.0));
  EXPECT_EQ(trel::get_pix<int>(m32f, 0, 0, 0), 0x3F800000);

  Ipl_ptr img8s = make_ipl(1, 1, static_cast<int>(IPL_DEPTH_8S), 1);
  poke_ipl<signed char>(*img8s, 0, 0, 0, -1);
  EXPECT_EQ(trel::get_pix<unsigned char>(*img8s, 0, 0, 0), 255);
  EXPECT_EQ(trel::get_pix<unsigned char>(cv::cvarrToMat(img8s.get()), 0, 0, 0), 255);
}

TEST(GetPixTyped, ReferenceAccessorWritesIntoTheImageData) {
  cv::Mat m(3, 4, CV_16UC3, cv::Scalar(0, 0, 0));
  trel::get_pix<unsigned short>(m, 3, 1, 2) = 4321;
  EXPECT_EQ(m.at<cv::Vec3w>(1, 3)[2], 4321);
  EXPECT_EQ(m.at<cv::Vec3w>(1, 3)[1], 0);
  EXPECT_EQ(m.at<cv::Vec3w>(1, 2)[2], 0);
}

TEST(GetPixTyped, ReadsInsideAMatrixViewWithPaddedRows) {
  cv::Mat parent(6, 8, CV_8UC2, cv::Scalar(0, 0));
  parent.at<cv::Vec2b>(3, 5) = cv::Vec2b(11, 22);
  const cv::Mat view = parent(cv::Rect(2, 1, 4, 4));
  EXPECT_EQ(trel::get_pix<unsigned char>(view, 3, 2, 1), 22);
  EXPECT_EQ(trel::get_pix(view, 3, 2, 0), 11.0);
}

// cv::Scalar cannot fill more than four channels, so fill the bytes.
cv::Mat filled_bytes(int rows, int cols, int type, unsigned char byte) {
  cv::Mat m(rows, cols, type);
  std::memset(m.data, byte, m.total() * m.elemSize());
  return m;
}

struct Error_case {
  const char* name;
  std::function<void()> call;
  std::string detail;
};

TEST(GetPixTyped, ReportsEachFailureWithItsText) {
  Ipl_ptr img16u = make_ipl(4, 3, IPL_DEPTH_16U, 2);
  Ipl_ptr img8s = make_ipl(4, 3, static_cast<int>(IPL_DEPTH_8S), 2);
  Ipl_ptr img8u = make_ipl(4, 3, IPL_DEPTH_8U, 2);
  const cv::Mat m32f(3, 4, CV_32FC2);
  const cv::Mat m5 = filled_bytes(3, 4, CV_8UC(5), 0);
  const cv::Mat m16f(3, 4, CV_16FC1);
  cv::Mat m8u(3, 4, CV_8UC1, cv::Scalar(0));

  const std::vector<Error_case> cases = {
      {"ipl depth", [&] { trel::get_pix<unsigned char>(*img16u, 0, 0, 0); },
       "get_pix(): Pixel lookup for image was passed type with size 8 but image has depth 16 (16 without sign bit)"},
      {"ipl signed depth", [&] { trel::get_pix<short>(*img8s, 0, 0, 0); },
       "get_pix(): Pixel lookup for image was passed type with size 16 but image has depth -2147483640 (8 without "
       "sign bit)"},
      // depth is checked before position
      {"ipl depth first", [&] { trel::get_pix<int>(*img8u, 9, 9, 9); },
       "get_pix(): Pixel lookup for image was passed type with size 32 but image has depth 8 (8 without sign bit)"},
      {"ipl x", [&] { trel::get_pix<unsigned char>(*img8u, 4, 0, 0); },
       "get_pix(): Pixel lookup at (4,0) but image dimensions are (4,3)"},
      {"ipl y", [&] { trel::get_pix<unsigned char>(*img8u, 0, -1, 0); },
       "get_pix(): Pixel lookup at (0,-1) but image dimensions are (4,3)"},
      {"ipl channel", [&] { trel::get_pix<unsigned char>(*img8u, 0, 0, 2); },
       "get_pix(): Pixel lookup from channel 2 but image only has 2 channels."},
      // cv::Mat: position before channel before size
      {"mat position first", [&] { trel::get_pix<short>(m32f, 0, 3, 7); },
       "get_pix(): Pixel lookup at (0,3) but image dimensions are (4,3)"},
      {"mat channel", [&] { trel::get_pix<short>(m32f, 3, 2, -1); },
       "get_pix(): Pixel lookup from channel -1 but image only has 2 channels."},
      {"mat size", [&] { trel::get_pix<short>(m32f, 3, 2, 1); },
       "Template parameter had size of 2 bytes, but image depth specified 4"},
      {"mat size 8", [&] { trel::get_pix<unsigned char>(cv::Mat(1, 1, CV_64FC1), 0, 0, 0); },
       "Template parameter had size of 1 bytes, but image depth specified 8"},
      {"mat depth 7", [&] { trel::get_pix<short>(m16f, 0, 0, 0); }, "Image had unrecognised depth flag 7"},
      {"mat five channels", [&] { trel::get_pix<unsigned char>(m5, 1, 1, 0); },
       "get_pix<template> : number of image channels was not 1-4, value was : 5"},
      {"mat channel 5 of five", [&] { trel::get_pix<unsigned char>(m5, 1, 1, 5); },
       "get_pix(): Pixel lookup from channel 5 but image only has 5 channels."},
      {"mat reference", [&] { trel::get_pix<unsigned char>(m8u, -1, 0, 0) = 1; },
       "get_pix(): Pixel lookup at (-1,0) but image dimensions are (4,3)"},
      {"empty mat", [&] { trel::get_pix(cv::Mat(), 0, 0, 0); },
       "get_pix(): Pixel lookup at (0,0) but image dimensions are (0,0)"},
      {"double reader passes typed errors", [&] { trel::get_pix(*img8u, 0, 3, 0); },
       "get_pix(): Pixel lookup at (0,3) but image dimensions are (4,3)"},
  };
  for (const Error_case& c : cases) EXPECT_EQ(detail_thrown(c.call), c.detail) << c.name;
}

TEST(GetPixDouble, UnknownDepthThrowsLogicErrorWithBareText) {
  const cv::Mat m16f(2, 2, CV_16FC1);
  try {
    trel::get_pix(m16f, 0, 0, 0);
    FAIL() << "nothing thrown";
  } catch (const trel::exception_l&) {
    FAIL() << "expected std::logic_error, got exception_l";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "get_pix:: Unrecognised cv::Mat depth 7");
  }

  Ipl_ptr img = make_ipl(2, 2, IPL_DEPTH_8U, 1);
  IplImage header = *img;
  header.depth = IPL_DEPTH_1U;
  try {
    trel::get_pix(header, 0, 0, 0);
    FAIL() << "nothing thrown";
  } catch (const trel::exception_l&) {
    FAIL() << "expected std::logic_error, got exception_l";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "get_pix:: Unrecognised unsigned depth 1");
  }
}

struct Set_case {
  int depth;
  double value;
  double stored;
};

TEST(SetPix, TruncatesTowardZeroAndWrapsOnIntegerDepths) {
  const std::vector<Set_case> cases = {
      {CV_8U, 255.9, 255},      {CV_8U, 256.0, 0},          {CV_8U, -1.0, 255},
      {CV_8U, -0.9, 0},         {CV_8S, 130.0, -126},       {CV_8S, -1.9, -1},
      {CV_16U, 65536.0, 0},     {CV_16U, 65537.5, 1},       {CV_16S, 32768.0, -32768},
      {CV_16S, -3.7, -3},       {CV_32S, 4294967301.0, 5},  {CV_32S, -2147483648.9, -2147483648.0},
      {CV_32F, 0.1, static_cast<double>(0.1f)},             {CV_64F, 0.1, 0.1},
  };
  for (const Set_case& c : cases) {
    SCOPED_TRACE("depth " + std::to_string(c.depth) + " value " + std::to_string(c.value));
    cv::Mat m(2, 3, CV_MAKETYPE(c.depth, 1), cv::Scalar(0));
    trel::set_pix(m, 2, 1, cv::Scalar(c.value));
    EXPECT_EQ(trel::get_pix(m, 2, 1, 0), c.stored);
    EXPECT_EQ(trel::get_pix(m, 1, 1, 0), 0.0);
  }
}

TEST(SetPix, WritesEveryChannelOfThePixel) {
  cv::Mat m(2, 2, CV_16SC3, cv::Scalar::all(0));
  trel::set_pix(m, 1, 0, cv::Scalar(-1, 2, 3, 99));
  EXPECT_EQ(m.at<cv::Vec3s>(0, 1), cv::Vec3s(-1, 2, 3));
  EXPECT_EQ(m.at<cv::Vec3s>(1, 1), cv::Vec3s(0, 0, 0));
}

TEST(SetPix, RefusesBadInputWithoutWriting) {
  cv::Mat m8(2, 3, CV_8UC2, cv::Scalar(7, 7));
  cv::Mat m5 = filled_bytes(2, 3, CV_8UC(5), 7);
  cv::Mat m16f(2, 3, CV_16FC1);
  EXPECT_EQ(detail_thrown([&] { trel::set_pix(m8, 3, 0, cv::Scalar(1, 1)); }),
            "requested position 3,0 was outside image 3,2");
  EXPECT_EQ(detail_thrown([&] { trel::set_pix(m8, 0, -1, cv::Scalar(1, 1)); }),
            "requested position 0,-1 was outside image 3,2");
  EXPECT_EQ(detail_thrown([&] { trel::set_pix(m16f, 0, 0, cv::Scalar(1)); }), "Unrecognised cv::Mat depth 7");
  EXPECT_EQ(detail_thrown([&] { trel::set_pix(m5, 0, 0, cv::Scalar(1, 1, 1, 1)); }),
            "get_pix<template> : number of image channels was not 1-4, value was : 5");
  EXPECT_EQ(m5.data[0], 7);

  // A value that has no integer meaning must not be half-written.
  EXPECT_NE(detail_thrown([&] { trel::set_pix(m8, 1, 1, cv::Scalar(1, std::nan(""))); }), "<nothing thrown>");
  EXPECT_NE(detail_thrown([&] { trel::set_pix(m8, 1, 1, cv::Scalar(1, 1e300)); }), "<nothing thrown>");
  EXPECT_EQ(m8.at<cv::Vec2b>(1, 1), cv::Vec2b(7, 7));
}

// Catmull-Rom weights of the four samples at fraction f, written in the
// expanded polynomial form rather than the nested form of the implementation.
void catmull_rom_weights(double f, double w[4]) {
  const double f2 = f * f, f3 = f2 * f;
  w[0] = 0.5 * (-f + 2.0 * f2 - f3);
  w[1] = 0.5 * (2.0 - 5.0 * f2 + 3.0 * f3);
  w[2] = 0.5 * (f + 4.0 * f2 - 3.0 * f3);
  w[3] = 0.5 * (-f2 + f3);
}

int clamp_index(int i, int n) { return i < 0 ? 0 : (i >= n ? n - 1 : i); }

double reference_bicubic(const cv::Mat& m, double x, double y) {
  const int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
  double wx[4], wy[4];
  catmull_rom_weights(x - ix, wx);
  catmull_rom_weights(y - iy, wy);
  double sum = 0.0;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i)
      sum += wy[j] * wx[i] * m.at<double>(clamp_index(iy - 1 + j, m.rows), clamp_index(ix - 1 + i, m.cols));
  return sum;
}

TEST(InterpPix, MatchesCatmullRomWithReplicatedBordersOnAGrid) {
  std::mt19937 rng(20240607);
  std::uniform_int_distribution<int> values(0, 255);
  cv::Mat m(5, 6, CV_64FC1);
  for (int r = 0; r < m.rows; ++r)
    for (int c = 0; c < m.cols; ++c) m.at<double>(r, c) = values(rng);

  const std::vector<double> xs = {0.0, 0.25, 0.5, 1.0, 2.75, 4.0, 4.5, 5.0, 5.5, 5.999};
  const std::vector<double> ys = {0.0, 0.3, 1.5, 3.0, 3.5, 4.0, 4.75};
  for (double y : ys)
    for (double x : xs)
      EXPECT_NEAR(trel::interp_pix(m, x, y, 0), reference_bicubic(m, x, y), kInterpTolerance)
          << "at " << x << "," << y;
}

TEST(InterpPix, HandComputedValuesOnOneRow) {
  cv::Mat row = (cv::Mat_<unsigned char>(1, 4) << 0, 10, 30, 20);
  // Midpoint of a Catmull-Rom segment: (-p0 + 9 p1 + 9 p2 - p3) / 16.
  EXPECT_NEAR(trel::interp_pix(row, 1.5, 0.0, 0), 21.25, kInterpTolerance);
  EXPECT_EQ(trel::interp_pix(row, 2.0, 0.0, 0), 30.0);
  // Last column: p2 = p3 = p1, so (17 p1 - p0) / 16.
  EXPECT_NEAR(trel::interp_pix(row, 3.5, 0.0, 0), (17.0 * 20 - 30) / 16.0, kInterpTolerance);
  // First column: p0 = p1, so (8 p1 + 9 p2 - p3) / 16.
  EXPECT_NEAR(trel::interp_pix(row, 0.5, 0.0, 0), (9.0 * 10 - 30) / 16.0, kInterpTolerance);
}

TEST(InterpPixLinear, HandComputedValuesAtBordersAndInterior) {
  const cv::Mat m = (cv::Mat_<float>(2, 2) << 0, 10, 20, 40);
  EXPECT_NEAR(trel::interp_pix_linear(m, 0.5, 0.5, 0), 17.5, kInterpTolerance);
  EXPECT_NEAR(trel::interp_pix_linear(m, 0.25, 0.0, 0), 2.5, kInterpTolerance);
  EXPECT_NEAR(trel::interp_pix_linear(m, 1.0, 0.5, 0), 25.0, kInterpTolerance);   // last column
  EXPECT_NEAR(trel::interp_pix_linear(m, 0.5, 1.0, 0), 30.0, kInterpTolerance);   // last row
  EXPECT_NEAR(trel::interp_pix_linear(m, 1.5, 1.5, 0), 40.0, kInterpTolerance);   // last of both
  EXPECT_NEAR(trel::interp_pix_linear(m, -0.5, 0.0, 0), -5.0, kInterpTolerance);  // truncates to 0, fx = -0.5
}

TEST(InterpPix, RefusesPositionsOutsideTheImage) {
  const cv::Mat m(3, 4, CV_8UC1, cv::Scalar(1));
  EXPECT_EQ(detail_thrown([&] { trel::interp_pix(m, -0.5, 1.0, 0); }),
            "interp_pix() : the requested position -0.5,1 rounded down to position -1,1 outside image 4,3");
  EXPECT_EQ(detail_thrown([&] { trel::interp_pix(m, 1.0, 3.0, 0); }),
            "interp_pix() : the requested position 1,3 rounded down to position 1,3 outside image 4,3");
  EXPECT_EQ(detail_thrown([&] { trel::interp_pix_linear(m, -1.5, 0.0, 0); }),
            "interp_pix() : the requested position -1.5,0 rounded down to position -1,0 outside image 4,3");
  EXPECT_EQ(detail_thrown([&] { trel::interp_pix_linear(m, 1e20, 0.0, 0); }),
            "interp_pix() : the requested position 1e+20,0 rounded down to position 1e+20,0 outside image 4,3");
  EXPECT_NE(detail_thrown([&] { trel::interp_pix(m, std::nan(""), 0.0, 0); }), "<nothing thrown>");
  EXPECT_EQ(detail_thrown([&] { trel::interp_pix(m, 0.5, 0.5, 1); }),
            "get_pix(): Pixel lookup from channel 1 but image only has 1 channels.");
}

cv::Mat numbered_rows(int rows, int cols) {
  cv::Mat m(rows, cols, CV_8UC3);
  for (int r = 0; r < rows; ++r) m.row(r).setTo(cv::Scalar(r + 1, 100 + r, 200 + r));
  return m;
}

// The first channel of column 0 of each row: the source row number + 1, or 0.
std::vector<int> row_tags(const cv::Mat& m) {
  std::vector<int> tags;
  for (int r = 0; r < m.rows; ++r) {
    tags.push_back(m.at<cv::Vec3b>(r, 0)[0]);
    EXPECT_EQ(m.at<cv::Vec3b>(r, m.cols - 1), m.at<cv::Vec3b>(r, 0)) << "row " << r << " copied partly";
  }
  return tags;
}

TEST(GetRows, ExtractsEvenOrOddField) {
  const cv::Mat src = numbered_rows(4, 5);
  cv::Mat even(2, 5, CV_8UC3, cv::Scalar::all(0));
  trel::get_rows(src, even, 1, 2, false);
  EXPECT_EQ(row_tags(even), (std::vector<int>{1, 3}));
  cv::Mat odd(2, 5, CV_8UC3, cv::Scalar::all(0));
  trel::get_rows(src, odd, 1, 2, true);
  EXPECT_EQ(row_tags(odd), (std::vector<int>{2, 4}));
}

TEST(GetRows, DoublesLinesOfOneField) {
  const cv::Mat src = numbered_rows(5, 3);
  cv::Mat even(5, 3, CV_8UC3, cv::Scalar::all(0));
  trel::get_rows(src, even, 1, 1, false);
  EXPECT_EQ(row_tags(even), (std::vector<int>{1, 1, 3, 3, 5}));
  cv::Mat odd(5, 3, CV_8UC3, cv::Scalar::all(0));
  trel::get_rows(src, odd, 1, 1, true);
  EXPECT_EQ(row_tags(odd), (std::vector<int>{2, 2, 4, 4, 0}));

  cv::Mat in_place = numbered_rows(4, 3);
  trel::get_rows(in_place, in_place, 1, 1, true);
  EXPECT_EQ(row_tags(in_place), (std::vector<int>{2, 2, 4, 4}));
}

TEST(GetRows, IplImageOverloadWritesTheCallersImage) {
  Ipl_ptr src = make_ipl(3, 4, IPL_DEPTH_8U, 3);
  cv::Mat src_view = cv::cvarrToMat(src.get());
  numbered_rows(4, 3).copyTo(src_view);
  Ipl_ptr dst = make_ipl(3, 2, IPL_DEPTH_8U, 3);
  trel::get_rows(src.get(), dst.get(), 1, 2, true);
  EXPECT_EQ(row_tags(cv::cvarrToMat(dst.get())), (std::vector<int>{2, 4}));
  EXPECT_NE(detail_thrown([&] { trel::get_rows(nullptr, dst.get(), 1, 2, true); }), "<nothing thrown>");
}

TEST(GetRows, RefusesMismatchedSizesAndScalesBeforeCopying) {
  const cv::Mat src = numbered_rows(4, 6);
  cv::Mat dst(3, 6, CV_8UC3, cv::Scalar::all(0));
  cv::Mat half_wide(2, 3, CV_8UC3, cv::Scalar::all(0));
  cv::Mat one_channel(2, 6, CV_8UC1, cv::Scalar::all(0));
  EXPECT_EQ(detail_thrown([&] { trel::get_rows(src, dst, 1, 2, false); }),
            "framework_utils::get_rows() : yScale : 2 and sizes don't align.4 3");
  EXPECT_EQ(detail_thrown([&] { trel::get_rows(src, half_wide, 1, 2, false); }),
            "framework_utils::get_rows() : xScale : 1 and sizes don't align.6 3");
  EXPECT_EQ(detail_thrown([&] { trel::get_rows(src, one_channel, 1, 2, false); }),
            "framework_utils::get_rows() : Src and Dest are different element sizes.");
  EXPECT_EQ(detail_thrown([&] { trel::get_rows(src, half_wide, 2, 2, false); }),
            "framework_utils::get_rows() : Haven't implemented this yet!");
  const cv::Mat src1 = numbered_rows(1, 6);
  cv::Mat dst1(1, 6, CV_8UC3, cv::Scalar::all(0));
  EXPECT_EQ(detail_thrown([&] { trel::get_rows(src1, dst1, 1, 1, false); }), "<nothing thrown>");
  cv::Mat empty;
  // One row or fewer with odd rows: returns before the y scale is examined.
  EXPECT_EQ(detail_thrown([&] { trel::get_rows(cv::Mat(), empty, 1, 0, true); }), "<nothing thrown>");
  EXPECT_EQ(detail_thrown([&] { trel::get_rows(cv::Mat(), empty, 1, 0, false); }),
            "framework_utils::get_rows() : Haven't implemented this yet!");
  EXPECT_EQ(row_tags(dst), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(row_tags(half_wide), (std::vector<int>{0, 0}));
}

}  // namespace
