#include "trel_tools/image_utils.h"
#include "tests/test_support.h"
#include "tests/trel_matchers.h"

#include <gtest/gtest.h>

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/imgproc/imgproc_c.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

using trel_test::Ipl_ptr;
using trel_test::origin_detail_thrown;

Ipl_ptr make_ipl(int width, int height, int channels = 1, int depth = IPL_DEPTH_8U) {
  Ipl_ptr img(cvCreateImage(cvSize(width, height), depth, channels));
  cvZero(img.get());
  return img;
}

unsigned char& px(IplImage* img, int x, int y, int channel = 0) {
  return reinterpret_cast<unsigned char*>(img->imageData)[img->widthStep * y + img->nChannels * x + channel];
}

void fill_rect(IplImage* img, int x0, int y0, int w, int h, unsigned char value) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x)
      for (int c = 0; c < img->nChannels; ++c) px(img, x, y, c) = value;
}

CvRect roi(const IplImage* img) {
  if (img->roi == nullptr) return cvRect(-1, -1, -1, -1);
  return cvRect(img->roi->xOffset, img->roi->yOffset, img->roi->width, img->roi->height);
}

::testing::AssertionResult rect_is(const CvRect& r, int x, int y, int w, int h) {
  if (r.x == x && r.y == y && r.width == w && r.height == h) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << r.x << "," << r.y << "," << r.width << "," << r.height
                                       << ") expected (" << x << "," << y << "," << w << "," << h << ")";
}

// ---- rectangles and polygons --------------------------------------------------

TEST(Rectangles, CentredRectUsesIntegerHalves) {
  EXPECT_EQ(trel::centred_rect(10, 20, 5, 4), cv::Rect(8, 18, 5, 4));
  EXPECT_EQ(trel::centred_rect(cv::Point(0, 0), cv::Size(7, 6)), cv::Rect(-3, -3, 7, 6));
}

TEST(Rectangles, OverlapIsMeasuredAgainstTheFirstRectangle) {
  struct Case {
    CvRect a, b;
    double threshold;
    bool expected;
  };
  const CvRect small = cvRect(10, 10, 10, 10), big = cvRect(0, 0, 100, 100);
  const Case cases[] = {
      {small, big, 0.99, true},  {big, small, 0.99, false}, {big, small, 0.0099, true},
      {big, small, 0.01, false},  // exactly 0.01 is not strictly above
      {small, big, 1.0, false},  {cvRect(0, 0, 10, 10), cvRect(5, 0, 10, 10), 0.49, true},
      {cvRect(0, 0, 10, 10), cvRect(5, 0, 10, 10), 0.5, false}, {cvRect(0, 0, 10, 10), cvRect(20, 20, 5, 5), -1.0, true},
      {cvRect(0, 0, 10, 10), cvRect(20, 20, 5, 5), 0.0, false}};
  for (const Case& c : cases) {
    CvRect a = c.a, b = c.b;
    EXPECT_EQ(trel::check_rect_overlap(&a, &b, c.threshold), c.expected)
        << a.x << "," << a.y << "," << a.width << " vs " << b.x << "," << b.y << "," << b.width << " at "
        << c.threshold;
  }
}

TEST(IntersectionArea, AgreesWithIndependentAreas) {
  const double r2 = std::sqrt(2.0);
  const std::vector<point> unit = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  const std::vector<point> big = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  struct Case {
    const char* name;
    std::vector<point> a, b;
    double expected;  // magnitude
  };
  const Case cases[] = {
      {"identical unit squares", unit, unit, 1.0},
      {"disjoint triangles", {{0, 0}, {1, 0}, {0, 1}}, {{2, 2}, {3, 2}, {2, 3}}, 0.0},
      {"two-vertex polygon", {{0, 0}, {1, 1}}, unit, 0.0},
      {"all on one line", {{0, 0}, {1, 0}, {2, 0}}, {{0, 0}, {3, 0}, {1, 0}}, 0.0},
      {"overlapping rectangles", {{0, 0}, {4, 0}, {4, 3}, {0, 3}}, {{2, 1}, {7, 1}, {7, 5}, {2, 5}}, 2.0 * 2.0},
      // A square and the same square turned by 45 degrees meet in a regular
      // octagon of inradius 1: area 8 tan(22.5 deg) = 8 (sqrt 2 - 1).
      {"square and turned square", big, {{0, -r2}, {r2, 0}, {0, r2}, {-r2, 0}}, 8.0 * (r2 - 1.0)},
      {"triangle inside square", {{-0.5, -0.5}, {0.5, -0.5}, {0.0, 0.5}}, big, 0.5},
      {"square inside triangle", unit, {{-5, -5}, {10, -5}, {-5, 10}}, 1.0},
      {"odd and even vertex counts", {{0, 0}, {2, 0}, {1, 2}}, {{1, 0}, {3, 0}, {3, 2}, {1, 2}}, 0.5 * 2.0 * 1.0},
  };
  for (const Case& c : cases) {
    std::vector<point> a = c.a, b = c.b;
    const double area = intersectionArea(static_cast<int>(a.size()), a.data(), static_cast<int>(b.size()), b.data());
    EXPECT_NEAR(std::fabs(area), c.expected, 1e-6 * (1.0 + c.expected)) << c.name;
    if (c.a.size() >= 3) {
      // Symmetric in the two polygons.
      const double swapped =
          intersectionArea(static_cast<int>(b.size()), b.data(), static_cast<int>(a.size()), a.data());
      EXPECT_NEAR(std::fabs(swapped), c.expected, 1e-6 * (1.0 + c.expected)) << c.name << " swapped";
    }
  }
  std::vector<point> frame = {{-10, -10}, {10, -10}, {10, 10}, {-10, 10}};
  point bad[3] = {{0, 0}, {NAN, 0}, {0, 1}};
  EXPECT_NE(origin_detail_thrown([&] { intersectionArea(3, bad, 4, frame.data()); }).find("must be finite"),
            std::string::npos);
}

// ---- binarising, integral image, median -----------------------------------------

TEST(BinaryImageConvert, SplitsEveryChannelAtTheThreshold) {
  Ipl_ptr img = make_ipl(2, 1, 3);
  const unsigned char values[6] = {0, 127, 128, 129, 255, 1};
  for (int i = 0; i < 6; ++i) px(img.get(), i / 3, 0, i % 3) = values[i];
  IplImage* p = img.get();
  trel::binary_image_convert(p, 128);
  const unsigned char expected[6] = {0, 0, 255, 255, 255, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(px(img.get(), i / 3, 0, i % 3), expected[i]) << i;

  Ipl_ptr deep = make_ipl(2, 2, 1, IPL_DEPTH_16U);
  reinterpret_cast<unsigned short*>(deep->imageData)[0] = 1000;
  p = deep.get();
  CaptureStderr();
  trel::binary_image_convert(p, 128);
  EXPECT_EQ(GetCapturedStderr(),
            "Image input to binary_image_convert was not 8 bit colour depth. (won't take long to code if necesary)\n");
  EXPECT_EQ(reinterpret_cast<unsigned short*>(deep->imageData)[0], 1000);
  IplImage* null_image = nullptr;
  EXPECT_NE(origin_detail_thrown([&] { trel::binary_image_convert(null_image, 1); }).find("image is null"),
            std::string::npos);
}

TEST(IntegralImage, IsIndexedByColumnThenRowWithInclusiveSums) {
  std::mt19937 random(7);
  for (const cv::Size size : {cv::Size(1, 1), cv::Size(13, 5), cv::Size(9, 17)}) {
    Ipl_ptr img = make_ipl(size.width, size.height);
    for (int y = 0; y < size.height; ++y)
      for (int x = 0; x < size.width; ++x) px(img.get(), x, y) = static_cast<unsigned char>(random() % 256);
    cvSetImageROI(img.get(), cvRect(1 % size.width, 0, 1, 1));  // ignored
    std::unique_ptr<trel::matrix<double>> m(trel::create_integral_image(img.get()));
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->get_dim1(), static_cast<unsigned>(size.width));
    ASSERT_EQ(m->get_dim2(), static_cast<unsigned>(size.height));
    for (int x = 0; x < size.width; ++x)
      for (int y = 0; y < size.height; ++y) {
        double sum = 0.0;
        for (int i = 0; i <= x; ++i)
          for (int j = 0; j <= y; ++j) sum += px(img.get(), i, j);
        ASSERT_EQ((*m)[x][y], sum) << size << " at " << x << "," << y;
      }
  }
  Ipl_ptr colour = make_ipl(4, 4, 3);
  CaptureStderr();
  EXPECT_EQ(trel::create_integral_image(colour.get()), nullptr);
  EXPECT_EQ(GetCapturedStderr(),
            "Error image input to integral image creator has 3 channels and should only have 1.\n");
  Ipl_ptr deep = make_ipl(4, 4, 1, IPL_DEPTH_32F);
  CaptureStderr();
  EXPECT_EQ(trel::create_integral_image(deep.get()), nullptr);
  EXPECT_NE(GetCapturedStderr().find("depth 32"), std::string::npos);
}

TEST(ImageMedian, WithAndWithoutExtremes) {
  struct Case {
    std::vector<unsigned char> values;
    bool ignore;
    int expected;
  };
  const Case cases[] = {{{0, 0, 10, 20, 255}, true, 0},  // two values left
                        {{0, 0, 10, 20, 255}, false, 10},
                        {{0, 5, 10, 20, 255, 30, 40}, true, 20},
                        {{4, 1, 3, 2}, false, 3},  // upper median of an even count
                        {{9, 8}, false, 0},
                        {{255, 255, 255, 7}, false, 255}};
  for (const Case& c : cases) {
    Ipl_ptr img = make_ipl(static_cast<int>(c.values.size()), 1, 2);
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      px(img.get(), static_cast<int>(i), 0, 0) = c.values[i];
      px(img.get(), static_cast<int>(i), 0, 1) = 100;  // only the first channel counts
    }
    EXPECT_EQ(trel::image_median(img.get(), c.ignore), c.expected) << c.values.size() << " values, ignore " << c.ignore;
    EXPECT_TRUE(rect_is(roi(img.get()), 0, 0, static_cast<int>(c.values.size()), 1));
  }
  // Only the ROI is counted.
  Ipl_ptr img = make_ipl(4, 4);
  fill_rect(img.get(), 0, 0, 4, 4, 200);
  fill_rect(img.get(), 1, 1, 2, 2, 50);
  cvSetImageROI(img.get(), cvRect(1, 1, 2, 2));
  EXPECT_EQ(trel::image_median(img.get(), true), 50);
  Ipl_ptr deep = make_ipl(3, 3, 1, IPL_DEPTH_16U);
  EXPECT_NE(origin_detail_thrown([&] { trel::image_median(deep.get(), false); }).find("must have depth 8"),
            std::string::npos);
}

// ---- object centre, re-centring, segmentation ------------------------------------

TEST(FindObjectCenter, AveragesNonZeroPixelsInsideTheRoi) {
  int cx = -1, cy = -1;
  Ipl_ptr empty = make_ipl(31, 20);
  trel::find_object_center(cx, cy, empty.get(), nullptr, 1);
  EXPECT_EQ(cx, 15);
  EXPECT_EQ(cy, 10);
  EXPECT_TRUE(rect_is(roi(empty.get()), 0, 0, 31, 20));

  // A solid 10x10 block and a checkerboard 10x10 block; closing fills the
  // checkerboard, which moves the mean towards it.
  Ipl_ptr img = make_ipl(40, 20);
  fill_rect(img.get(), 0, 0, 10, 10, 7);
  for (int y = 0; y < 10; ++y)
    for (int x = 20; x < 30; ++x)
      if ((x + y) % 2 == 0) px(img.get(), x, y) = 1;
  trel::find_object_center(cx, cy, img.get(), nullptr, 1);
  EXPECT_EQ(cx, 11);  // (100 * 4.5 + 50 * 24.5) / 150
  EXPECT_EQ(cy, 4);
  IplConvKernel* kernel = cvCreateStructuringElementEx(3, 3, 1, 1, CV_SHAPE_RECT, nullptr);
  trel::find_object_center(cx, cy, img.get(), kernel, 1);
  EXPECT_EQ(cx, 14);
  EXPECT_EQ(px(img.get(), 21, 0), 0) << "the image itself is not closed";
  cvSetImageROI(img.get(), cvRect(15, 0, 25, 20));
  trel::find_object_center(cx, cy, img.get(), nullptr, 1);
  EXPECT_EQ(cx, 24);
  cvReleaseStructuringElement(&kernel);
}

TEST(RecenterImage, SizesAndOffsetsForOddAndEvenSizes) {
  struct Case {
    int w, h, cx, cy, new_w, new_h, off_x, off_y;
  };
  const Case cases[] = {{100, 50, 30, 10, 140, 80, 40, 30}, {101, 51, 80, 40, 160, 80, 0, 0},
                        {7, 5, 3, 2, 8, 6, 1, 1},           {10, 6, 5, 3, 10, 6, 0, 0},
                        {9, 9, 0, 9, 18, 18, 9, 0},         {4, 3, -2, 5, 12, 10, 8, 0}};
  for (const Case& c : cases) {
    Ipl_ptr owner = make_ipl(c.w, c.h, 3);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) px(owner.get(), x, y, 2) = static_cast<unsigned char>(1 + (x + 3 * y) % 250);
    cvSetImageROI(owner.get(), cvRect(1, 1, 1, 1));
    IplImage* img = owner.release();
    trel::recenter_image(c.cx, c.cy, img);
    owner.reset(img);
    ASSERT_EQ(img->width, c.new_w) << c.w << "x" << c.h << " at " << c.cx << "," << c.cy;
    ASSERT_EQ(img->height, c.new_h) << c.w << "x" << c.h << " at " << c.cx << "," << c.cy;
    EXPECT_EQ(img->nChannels, 3);
    EXPECT_EQ(img->roi, nullptr);
    long long placed = 0, sum = 0;
    for (int y = 0; y < img->height; ++y)
      for (int x = 0; x < img->width; ++x) {
        const int ox = x - c.off_x, oy = y - c.off_y;
        const bool inside = ox >= 0 && ox < c.w && oy >= 0 && oy < c.h;
        const int expected = inside ? 1 + (ox + 3 * oy) % 250 : 0;
        placed += px(img, x, y, 2) == expected;
        sum += px(img, x, y, 0) + px(img, x, y, 1);
      }
    EXPECT_EQ(placed, static_cast<long long>(c.new_w) * c.new_h) << c.w << "x" << c.h;
    EXPECT_EQ(sum, 0);
  }
}

TEST(ThresholdImagePair, ZeroesOutsideTheDepthBandInBothImages) {
  Ipl_ptr depth = make_ipl(6, 1);
  Ipl_ptr app = make_ipl(6, 1, 3);
  const unsigned char values[6] = {0, 50, 51, 100, 101, 250};
  for (int x = 0; x < 6; ++x) {
    px(depth.get(), x, 0) = values[x];
    fill_rect(app.get(), x, 0, 1, 1, 9);
  }
  IplImage* d = depth.get();
  IplImage* a = app.get();
  trel::threshold_image_pair(100, 50, a, d, nullptr, 1);  // keeps 50 < v <= 100
  const unsigned char kept[6] = {0, 0, 51, 100, 0, 0};
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(px(d, x, 0), kept[x]) << x;
    for (int c = 0; c < 3; ++c) EXPECT_EQ(px(a, x, 0, c), kept[x] ? 9 : 0) << x;
  }

  Ipl_ptr colour_depth = make_ipl(2, 2, 3);
  fill_rect(colour_depth.get(), 0, 0, 2, 2, 250);
  d = colour_depth.get();
  CaptureStderr();
  trel::threshold_image_pair(100, 50, a, d, nullptr, 1);
  EXPECT_EQ(GetCapturedStderr(),
            "depth image used for thresholding has 3 channels. Function only works for single channel\n"
            "app image passed had 3 channels.\n");
  EXPECT_EQ(px(d, 0, 0), 250);
  Ipl_ptr small_depth = make_ipl(2, 2);
  d = small_depth.get();
  EXPECT_NE(origin_detail_thrown([&] { trel::threshold_image_pair(100, 50, a, d, nullptr, 1); }).find("differ in size"),
            std::string::npos);
}

TEST(SegmentAndRecentre, CentresBothImagesOnTheObject) {
  Ipl_ptr depth_owner = make_ipl(40, 30);
  Ipl_ptr app_owner = make_ipl(40, 30, 3);
  fill_rect(depth_owner.get(), 5, 5, 10, 10, 100);
  fill_rect(depth_owner.get(), 30, 20, 5, 5, 200);  // outside the depth band
  fill_rect(app_owner.get(), 0, 0, 40, 30, 9);
  IplImage* depth = depth_owner.release();
  IplImage* app = app_owner.release();
  trel::segment_and_recentre(app, depth, 0.2, 1.0, 1.0, nullptr, 1, 0);  // median 100, band (80, 120]
  depth_owner.reset(depth);
  app_owner.reset(app);
  // Centre (9, 9): 40 wide -> 62 with the old image at 22; 30 high -> 42 at 12.
  ASSERT_EQ(app->width, 62);
  ASSERT_EQ(app->height, 42);
  ASSERT_EQ(depth->width, 62);
  EXPECT_TRUE(rect_is(roi(app), 11, 6, 40, 30));
  EXPECT_TRUE(rect_is(roi(depth), 11, 6, 40, 30));
  EXPECT_EQ(px(depth, 22 + 5, 12 + 5), 100);
  EXPECT_EQ(px(depth, 22 + 30, 12 + 20), 0);
  EXPECT_EQ(px(app, 22 + 5, 12 + 5, 1), 9);
  EXPECT_EQ(px(app, 22 + 30, 12 + 20, 1), 0);
  EXPECT_NE(origin_detail_thrown([&] {
              trel::segment_and_recentre(app, depth, 0.2, 0.0, 1.0, nullptr, 1, 0);
            }).find("positive"),
            std::string::npos);
}

TEST(SegmentAndRecentre, ArgumentsBeyondIntChangeNothing) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double tolerance, scale_x, scale_y;
    int threshold;
    std::string detail;
  };
  const std::string op = "segment_and_recentre() : ";
  const std::string roi = " (0,0,40,30) ";
  const Case cases[] = {
      {std::nan(""), 1.0, 1.0, 0, op + "tolerance must be finite, but is nan"},
      {inf, 1.0, 1.0, 100, op + "tolerance must be finite, but is inf"},
      {3e7, 1.0, 1.0, 100, op + "the depth band (-3e+09,3e+09] around 100 does not fit an int"},
      {1e300, 1.0, 1.0, 0, op + "the depth band (-1e+302,1e+302] around 100 does not fit an int"},
      {0.2, 6e7, 1.0, 0, op + "the depth ROI" + roi + "scaled by 6e+07,1 does not fit the depth image (40,30,8,1)"},
      {0.2, 1.0, 1e300, 0, op + "the depth ROI" + roi + "scaled by 1,1e+300 does not fit the depth image (40,30,8,1)"},
      {0.2, inf, 1.0, 0, op + "the depth ROI" + roi + "scaled by inf,1 does not fit the depth image (40,30,8,1)"},
  };
  for (const Case& c : cases) {
    Ipl_ptr depth_owner = make_ipl(40, 30);
    Ipl_ptr app_owner = make_ipl(40, 30, 3);
    fill_rect(depth_owner.get(), 5, 5, 10, 10, 100);
    fill_rect(depth_owner.get(), 30, 20, 5, 5, 200);
    fill_rect(app_owner.get(), 0, 0, 40, 30, 9);
    IplImage* depth = depth_owner.get();
    IplImage* app = app_owner.get();
    EXPECT_EQ(origin_detail_thrown([&] {
                trel::segment_and_recentre(app, depth, c.tolerance, c.scale_x, c.scale_y, nullptr, 1, c.threshold);
              }),
              c.detail);
    const bool replaced = depth != depth_owner.get() || app != app_owner.get();
    if (replaced) {  // the old images were released: own the new ones instead
      (void)depth_owner.release(), depth_owner.reset(depth);
      (void)app_owner.release(), app_owner.reset(app);
    }
    EXPECT_FALSE(replaced) << c.detail;
    EXPECT_EQ(depth->roi, nullptr) << c.detail;
    EXPECT_EQ(app->roi, nullptr) << c.detail;
    EXPECT_EQ(px(depth, 30, 20), 200) << c.detail;
    EXPECT_EQ(px(app, 30, 20, 2), 9) << c.detail;
  }
}

TEST(CentreSurroundCheck, FindsTheBrightBoxAndStaysInsideTheImage) {
  Ipl_ptr img = make_ipl(60, 60);
  fill_rect(img.get(), 20, 24, 12, 12, 3);
  IplImage* p = img.get();
  int w = -1, x = -1, y = -1;
  trel::centre_surround_check(p, 1.0, w, x, y, 12, 2.0);
  // The inner sum of corner (x, y) covers pixels x + 1 ... x + w.
  EXPECT_EQ(w, 12);
  EXPECT_EQ(x, 19);
  EXPECT_EQ(y, 23);
  EXPECT_EQ(px(img.get(), 20, 24), 3) << "the image is not changed";
  // Flat boxes: the inner box would reach below the outer one.
  trel::centre_surround_check(p, 0.3, w, x, y, 10, 1.5);
  EXPECT_GT(w, 0);
  EXPECT_NE(origin_detail_thrown([&] { trel::centre_surround_check(p, 1.0, w, x, y, 12, 1.0); }).find("step"),
            std::string::npos);
}

TEST(CentreSurroundCheck, StepsJustAboveOneGiveTheResultOfEveryWidthOnce) {
  // Step 1.0001 already takes every box size along the way (several times
  // each); 1 + 1e-9 repeats each about 10^9 times and the smallest step
  // above 1 about 10^15 times, which only ends when repeats are not searched.
  Ipl_ptr square = make_ipl(60, 60);
  fill_rect(square.get(), 20, 24, 12, 12, 3);
  Ipl_ptr scattered = make_ipl(48, 40);
  std::mt19937 random(7);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 48; ++x) px(scattered.get(), x, y) = random() % 3 == 0 ? 1 : 0;
  fill_rect(scattered.get(), 30, 10, 9, 7, 200);
  struct Case {
    IplImage* image;
    double aspect;
    int min_width;
  };
  const Case cases[] = {{square.get(), 1.0, 4}, {scattered.get(), 1.0, 2}, {scattered.get(), 0.75, 3},
                        {scattered.get(), 1.5, 1}};
  for (const Case& c : cases) {
    IplImage* p = c.image;
    int w0 = -1, x0 = -1, y0 = -1;
    trel::centre_surround_check(p, c.aspect, w0, x0, y0, c.min_width, 1.0001);
    for (const double step : {1.0 + 1e-9, std::nextafter(1.0, 2.0)}) {
      int w = -1, x = -1, y = -1;
      trel::centre_surround_check(p, c.aspect, w, x, y, c.min_width, step);
      EXPECT_EQ(std::vector<int>({w, x, y}), std::vector<int>({w0, x0, y0}))
          << "aspect " << c.aspect << ", step 1 + " << step - 1.0;
    }
  }
  int w = -1, x = -1, y = -1;
  IplImage* p = square.get();
  trel::centre_surround_check(p, 1.0, w, x, y, 4, 1.0 + 1e-9);
  EXPECT_EQ(std::vector<int>({w, x, y}), std::vector<int>({12, 19, 23}));
}

TEST(CombineDepthMaps, FillsInvalidReadings) {
  Ipl_ptr target = make_ipl(4, 1);
  Ipl_ptr fill = make_ipl(4, 1);
  const unsigned char t[4] = {240, 241, 250, 255}, f[4] = {7, 100, 241, 240};
  for (int x = 0; x < 4; ++x) {
    px(target.get(), x, 0) = t[x];
    px(fill.get(), x, 0) = f[x];
  }
  trel::combine_depth_maps(target.get(), fill.get());
  const unsigned char expected[4] = {240, 100, 255, 240};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(px(target.get(), x, 0), expected[x]) << x;
  Ipl_ptr other = make_ipl(4, 2, 3);
  CaptureStderr();
  trel::combine_depth_maps(target.get(), other.get());
  EXPECT_EQ(GetCapturedStderr(),
            "The 2 depth maps to be combined do not match: widths=4,4 heights=1,2 depths=8,8 nChannels=1,3\n");
}

// ---- region copy --------------------------------------------------------------------

TEST(ImageRegionCopy, ClipsOnEverySide) {
  struct Case {
    CvRect src, dst, src_clipped, dst_clipped;
  };
  // Source 60x40, destination 50x30.
  const Case cases[] = {
      {cvRect(-10, 0, 50, 20), cvRect(0, 0, 50, 20), cvRect(0, 0, 40, 20), cvRect(10, 0, 40, 20)},
      {cvRect(0, 0, 30, 20), cvRect(-10, 0, 30, 20), cvRect(10, 0, 20, 20), cvRect(0, 0, 20, 20)},
      {cvRect(0, -5, 20, 20), cvRect(0, 0, 20, 20), cvRect(0, 0, 20, 15), cvRect(0, 5, 20, 15)},
      {cvRect(0, 0, 20, 20), cvRect(0, -5, 20, 20), cvRect(0, 5, 20, 15), cvRect(0, 0, 20, 15)},
      {cvRect(50, 0, 20, 10), cvRect(0, 0, 20, 10), cvRect(50, 0, 10, 10), cvRect(0, 0, 10, 10)},
      {cvRect(0, 35, 10, 10), cvRect(0, 0, 10, 10), cvRect(0, 35, 10, 5), cvRect(0, 0, 10, 5)},
      {cvRect(0, 0, 20, 10), cvRect(40, 0, 20, 10), cvRect(0, 0, 10, 10), cvRect(40, 0, 10, 10)},
      {cvRect(0, 0, 10, 20), cvRect(0, 25, 10, 20), cvRect(0, 0, 10, 5), cvRect(0, 25, 10, 5)},
      {cvRect(50, 30, 30, 30), cvRect(-5, -5, 30, 30), cvRect(55, 35, 5, 5), cvRect(0, 0, 5, 5)},
      // "Everything from here on": ends far beyond int are cut without overflow.
      {cvRect(10, 5, INT_MAX, INT_MAX), cvRect(0, 0, INT_MAX, INT_MAX), cvRect(10, 5, 50, 30), cvRect(0, 0, 50, 30)},
      {cvRect(0, 0, 20, 10), cvRect(30, 20, INT_MAX, INT_MAX), cvRect(0, 0, 20, 10), cvRect(30, 20, 20, 10)},
  };
  for (const Case& c : cases) {
    Ipl_ptr src = make_ipl(60, 40);
    Ipl_ptr dst = make_ipl(50, 30);
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x) px(src.get(), x, y) = static_cast<unsigned char>(1 + x + 2 * y);
    fill_rect(dst.get(), 0, 0, 50, 30, 222);
    CvRect s = c.src, d = c.dst;
    trel::image_region_copy(src.get(), dst.get(), s, d);
    const CvRect& e = c.src_clipped;
    ASSERT_TRUE(rect_is(s, e.x, e.y, e.width, e.height));
    ASSERT_TRUE(rect_is(d, c.dst_clipped.x, c.dst_clipped.y, c.dst_clipped.width, c.dst_clipped.height));
    EXPECT_TRUE(rect_is(roi(src.get()), s.x, s.y, s.width, s.height));
    EXPECT_TRUE(rect_is(roi(dst.get()), d.x, d.y, d.width, d.height));
    int wrong = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 50; ++x) {
        const bool inside = x >= d.x && x < d.x + d.width && y >= d.y && y < d.y + d.height;
        const int expected = inside ? 1 + (x - d.x + s.x) + 2 * (y - d.y + s.y) : 0;
        wrong += px(dst.get(), x, y) != expected;
      }
    EXPECT_EQ(wrong, 0) << "source " << c.src.x << "," << c.src.y;
  }
  Ipl_ptr src = make_ipl(60, 40);
  Ipl_ptr dst = make_ipl(50, 30);
  fill_rect(src.get(), 0, 0, 60, 40, 9);
  fill_rect(dst.get(), 0, 0, 50, 30, 5);
  // The part of the destination rectangle inside the destination maps to
  // source pixels beyond the source: nothing to copy.
  CvRect s = cvRect(55, 35, 30, 30), d = cvRect(-20, -20, 30, 30);
  trel::image_region_copy(src.get(), dst.get(), s, d);
  EXPECT_EQ(cv::countNonZero(cv::cvarrToMat(dst.get())), 0);
  EXPECT_EQ(src->roi, nullptr);
  EXPECT_EQ(dst->roi, nullptr);
  fill_rect(dst.get(), 0, 0, 50, 30, 5);
  s = cvRect(61, 0, 5, 5);
  d = cvRect(0, 0, 5, 5);
  EXPECT_EQ(origin_detail_thrown([&] { trel::image_region_copy(src.get(), dst.get(), s, d); }),
            "std: image_region_copy() : Region  (61,0,5,5)  is completely outside input image (60,40,8,1)\n");
  EXPECT_EQ(px(dst.get(), 0, 0), 5);
  // Clipping would move a rectangle beyond the range of int.
  struct Bad {
    CvRect src, dst;
    std::string regions;
  };
  const Bad beyond_int[] = {{cvRect(INT_MIN, 0, 50, 50), cvRect(1, 1, 50, 50),
                             " (-2147483648,0,50,50)  and destination region  (1,1,50,50) "},
                            {cvRect(1, 0, 50, 50), cvRect(INT_MIN, 0, 50, 50),
                             " (1,0,50,50)  and destination region  (-2147483648,0,50,50) "}};
  for (const Bad& bad : beyond_int) {
    s = bad.src;
    d = bad.dst;
    EXPECT_EQ(origin_detail_thrown([&] { trel::image_region_copy(src.get(), dst.get(), s, d); }),
              "std: image_region_copy() : Region " + bad.regions + " cannot be clipped within the range of int\n");
    EXPECT_TRUE(rect_is(s, bad.src.x, bad.src.y, bad.src.width, bad.src.height));
    EXPECT_TRUE(rect_is(d, bad.dst.x, bad.dst.y, bad.dst.width, bad.dst.height));
    EXPECT_EQ(px(dst.get(), 0, 0), 5);
  }
}

// ---- scale stack ----------------------------------------------------------------------

TEST(CreateImagePyramid, LevelsUseTheStandardDeviationsOfThePowersOfSigma) {
  // The spread of a smoothed impulse is the standard deviation of the level.
  const int size = 81, c = size / 2;
  Ipl_ptr impulse = make_ipl(size, size, 1, IPL_DEPTH_64F);
  reinterpret_cast<double*>(impulse->imageData + impulse->widthStep * c)[c] = 1.0;
  std::vector<IplImage*> images = {impulse.get()};
  std::vector<std::vector<IplImage*>*> levels;
  trel::create_image_pyramid(&images, &levels, 3, 4.0);
  ASSERT_EQ(levels.size(), 4u);
  const double deviations[4] = {0.0, 1.0, 2.0, 4.0};
  for (int k = 0; k < 4; ++k) {
    ASSERT_EQ(levels[k]->size(), 1u);
    const IplImage* level = (*levels[k])[0];
    EXPECT_NE(level, impulse.get());
    double mass = 0.0, second_moment = 0.0;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const double v = reinterpret_cast<const double*>(level->imageData + level->widthStep * y)[x];
        mass += v;
        second_moment += v * (x - c) * (x - c);
      }
    EXPECT_NEAR(mass, 1.0, 1e-9) << "level " << k;
    EXPECT_NEAR(std::sqrt(second_moment / mass), deviations[k], 0.02 * deviations[k] + 1e-9) << "level " << k;
  }
  for (std::vector<IplImage*>* level : levels) {
    for (IplImage* img : *level) cvReleaseImage(&img);
    delete level;
  }
  std::vector<IplImage*> with_null = {impulse.get(), nullptr};
  levels.clear();
  EXPECT_NE(
      origin_detail_thrown([&] { trel::create_image_pyramid(&with_null, &levels, 1, 2.0); }).find("image 1 is null"),
      std::string::npos);
  EXPECT_TRUE(levels.empty());
}

// ---- value range and normalisation --------------------------------------------------------

TEST(ImageNormalise, ScalesEachChannelToTheUnitRange) {
  double lo = -7, hi = -7;
  trel::image_range(cv::Mat(), lo, hi);
  EXPECT_EQ(lo, -7);
  trel::image_range((cv::Mat_<short>(2, 2) << 3, 1, 4, 1), lo, hi);
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, 4);

  cv::Mat grey = (cv::Mat_<unsigned char>(1, 3) << 50, 150, 100);
  cv::Mat n = trel::image_normalise(grey);
  EXPECT_EQ(n.type(), CV_64FC1);
  EXPECT_TRUE(trel_test::cv_mat_near(n, (cv::Mat_<double>(1, 3) << 0.0, 1.0, 0.5), 0.0));

  cv::Mat colour(1, 2, CV_8UC3);
  colour.at<cv::Vec3b>(0, 0) = cv::Vec3b(10, 7, 0);
  colour.at<cv::Vec3b>(0, 1) = cv::Vec3b(20, 7, 200);
  cv::Mat nc = trel::image_normalise(colour);
  ASSERT_EQ(nc.type(), CV_64FC3);
  EXPECT_EQ(nc.at<cv::Vec3d>(0, 0), cv::Vec3d(0.0, 0.0, 0.0));  // constant channel 1 gives zeros
  EXPECT_EQ(nc.at<cv::Vec3d>(0, 1), cv::Vec3d(1.0, 0.0, 1.0));

  cv::Mat empty_colour(0, 0, CV_8UC3);
  EXPECT_TRUE(trel::image_normalise(empty_colour).empty());
  cv::Mat constant(3, 3, CV_32F, cv::Scalar(5.0));
  cv::Mat zero = trel::image_normalise(constant);
  EXPECT_TRUE(trel_test::cv_mat_near(zero, cv::Mat::zeros(3, 3, CV_64F), 0.0));
}

// ---- titles, 4:3 frames and mosaics ------------------------------------------------------

cv::Mat solid(int cols, int rows, unsigned char value) { return cv::Mat(rows, cols, CV_8UC3, cv::Scalar::all(value)); }

TEST(ImageTitle, DrawsCentredAtTheTopAndWarnsWhenTooLarge) {
  cv::Mat m = solid(200, 60, 0);
  CaptureStderr();
  trel::image_title(m, "cam 0", cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar(0, 255, 0));
  EXPECT_EQ(GetCapturedStderr(), "");
  int baseline = 0;
  const cv::Size text = cv::getTextSize("cam 0", cv::FONT_HERSHEY_SIMPLEX, 0.5, 1, &baseline);
  cv::Mat green;
  cv::extractChannel(m, green, 1);
  const cv::Rect drawn = cv::boundingRect(green);
  EXPECT_NEAR(drawn.x, 100 - text.width / 2, 2);
  EXPECT_NEAR(drawn.y + drawn.height, text.height + 10, 2);
  EXPECT_EQ(cv::countNonZero(green.rowRange(text.height + 12, 60)), 0);

  cv::Mat small = solid(20, 10, 0);
  CaptureStderr();
  trel::image_title(small, "a long title", cv::FONT_HERSHEY_SIMPLEX, 1.0, cv::Scalar(255, 255, 255));
  const cv::Size big = cv::getTextSize("a long title", cv::FONT_HERSHEY_SIMPLEX, 1.0, 1, &baseline);
  EXPECT_EQ(GetCapturedStderr(), "Warning: in image_utils::image_title() : title has size of (" +
                                     std::to_string(big.width) + "," + std::to_string(big.height) +
                                     ") but image only has size of (20,10)\n");
}

TEST(Frame43, ArithmeticAndPadding) {
  struct Case {
    cv::Size size, frame;
  };
  const Case cases[] = {{{300, 100}, {300, 225}}, {{200, 100}, {200, 150}}, {{100, 200}, {266, 200}},
                        {{4, 3}, {4, 3}},         {{3, 2}, {3, 2}},         {{5, 3}, {5, 3}},
                        {{2, 5}, {6, 5}}};
  for (const Case& c : cases) EXPECT_EQ(trel::frame_4_3_size(c.size), c.frame) << c.size;
  // Frame 300 x 225 with the image at row (225 - 100) / 2 = 62.
  cv::Mat m = solid(300, 100, 200);
  trel::convert_res(m, 300, 225);
  ASSERT_EQ(m.size(), cv::Size(300, 225));
  EXPECT_EQ(cv::boundingRect(m.reshape(1) > 0), cv::Rect(0, 62, 900, 100));
  cv::Mat scaled = solid(300, 100, 200);
  trel::convert_res(scaled, 400, 300);
  EXPECT_EQ(scaled.size(), cv::Size(400, 300));
  EXPECT_EQ(scaled.type(), CV_8UC3);
  cv::Mat grey(4, 4, CV_8U);
  EXPECT_NE(origin_detail_thrown([&] { trel::convert_res(grey, 4, 3); }).find("type 0"), std::string::npos);
}

TEST(JoinImages, LayoutsAndChoices) {
  const cv::Mat a = solid(100, 50, 10), b = solid(80, 30, 20);
  cv::Mat s = trel::join_images_side_by_side(a, b, false, false);
  ASSERT_EQ(s.size(), cv::Size(180, 50));
  EXPECT_EQ(s.at<cv::Vec3b>(0, 100)[0], 20);
  EXPECT_EQ(s.at<cv::Vec3b>(30, 100)[0], 0);
  s = trel::join_images_side_by_side(a, b, true, false);
  EXPECT_EQ(s.at<cv::Vec3b>(9, 100)[0], 0);
  EXPECT_EQ(s.at<cv::Vec3b>(10, 100)[0], 20);
  EXPECT_EQ(s.at<cv::Vec3b>(39, 179)[0], 20);
  EXPECT_EQ(s.at<cv::Vec3b>(40, 179)[0], 0);
  EXPECT_EQ(trel::join_images_side_by_side(a, b, false, true).size(), cv::Size(180, 135));
  cv::Mat t = trel::join_images_on_top(a, b, true, false);
  ASSERT_EQ(t.size(), cv::Size(100, 80));
  EXPECT_EQ(t.at<cv::Vec3b>(50, 9)[0], 0);
  EXPECT_EQ(t.at<cv::Vec3b>(50, 10)[0], 20);
  // Two squares: side by side frames to 200 x 150, on top to 266 x 200.
  EXPECT_EQ(trel::join_images(solid(100, 100, 1), solid(100, 100, 2), false, false).size(), cv::Size(200, 100));
  // Wide images go on top of each other.
  EXPECT_EQ(trel::join_images(solid(100, 10, 1), solid(100, 10, 2), false, false).size(), cv::Size(100, 20));
  cv::Mat grey(5, 5, CV_8U);
  try {
    trel::join_images_on_top(a, grey, false, false);
    ADD_FAILURE() << "nothing thrown";
  } catch (const trel::exception_l& e) {
    EXPECT_NE(trel_test::origin_detail(e).find("second image must be 8 bit 3 channel"), std::string::npos);
    EXPECT_GE(e.depth(), 1) << "rethrown by the guard";
  }
}

TEST(JoinImagesOrdered, GridChoiceAndPairwiseLayout) {
  // Four squares: 3 columns (ratio 1.5) beat 2 (1.0) and 1 (0.25).
  const std::vector<cv::Mat> squares(4, solid(100, 100, 5));
  EXPECT_EQ(trel::join_images_ordered(squares, false, false).size(), cv::Size(300, 200));
  EXPECT_EQ(trel::join_images_ordered(squares, false, true).size(), cv::Size(300, 225));
  // Two images: only one column is tried.
  EXPECT_EQ(trel::join_images_ordered({solid(100, 10, 1), solid(100, 10, 2)}, false, false).size(), cv::Size(100, 20));

  // Mixed sizes with centring equal the chain of pairwise joins, row by row.
  std::vector<cv::Mat> mixed;
  // In the first row the first image is centred twice (offsets 5, then
  // 5 + 10): nested halvings, not one centring (which would give 16).
  const int sizes[5][2] = {{31, 9}, {20, 20}, {45, 41}, {12, 33}, {27, 26}};
  for (int i = 0; i < 5; ++i) mixed.push_back(solid(sizes[i][0], sizes[i][1], static_cast<unsigned char>(40 * i + 30)));
  for (bool centre : {false, true}) {
    const cv::Mat grid = trel::join_images_ordered(mixed, centre, false);
    // Width : height by column count: 45 : 129, 65 : 87, 103 : 74 (the closest to 4:3), 108 : 67.
    cv::Mat expected;
    for (int row = 0; row < 2; ++row) {
      cv::Mat line;
      for (int k = 3 * row; k < std::min(5, 3 * row + 3); ++k)
        line = trel::join_images_side_by_side(line, mixed[k], centre, false);
      expected = trel::join_images_on_top(expected, line, centre, false);
    }
    ASSERT_EQ(grid.size(), expected.size()) << "centre " << centre;
    EXPECT_EQ(grid.at<cv::Vec3b>(centre ? 15 : 0, 0)[0], 30);
    EXPECT_EQ(cv::norm(grid, expected, cv::NORM_INF), 0.0) << "centre " << centre;
  }

  const cv::Mat one = solid(40, 10, 7);
  EXPECT_EQ(trel::join_images_ordered({one}, false, false).data, one.data);
  const cv::Mat framed = trel::join_images_ordered({one}, false, true);
  EXPECT_EQ(framed.size(), cv::Size(40, 30));
  EXPECT_EQ(framed.at<cv::Vec3b>(10, 0)[0], 7);
  EXPECT_TRUE(trel::join_images_ordered({}, false, true).empty());
}

TEST(JoinImagesUnordered, PairwiseTournament) {
  const cv::Mat a = solid(100, 100, 1), b = solid(100, 100, 2), c = solid(50, 100, 3);
  // (a + b) side by side, 200 x 100; then with c: side by side 250 x 100
  // frames to 250 x 187, on top 200 x 200 to 266 x 200; side by side wins.
  const cv::Mat joined = trel::join_images_unordered({a, b, c}, false, false);
  ASSERT_EQ(joined.size(), cv::Size(250, 100));
  EXPECT_EQ(joined.at<cv::Vec3b>(50, 225)[0], 3);
  EXPECT_EQ(trel::join_images_unordered({a, b, c}, false, true).size(), cv::Size(250, 187));
  EXPECT_EQ(trel::join_images_unordered({c}, false, true).size(), c.size());
  EXPECT_TRUE(trel::join_images_unordered({}, false, true).empty());
}

}  // namespace
