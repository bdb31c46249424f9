// Window functions in a real window: run inside an X server (ctest runs this
// program through xvfb-run when it is installed); skipped without a display.

#include "trel_tools/image_utils.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <opencv2/core/core_c.h>
#include <opencv2/highgui.hpp>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// What the replaced wait saw while check_image's window was up.
struct Wait_record {
  int calls = 0;
  int delay = -1;
  double autosize = -1.0;
  cv::Size shown;
};
Wait_record record;

// Qt's highgui answers -1 for an unknown window, or throws when none is open.
bool window_exists(const std::string& name) {
  try {
    return cv::getWindowProperty(name, cv::WND_PROP_AUTOSIZE) >= 0.0;
  } catch (const cv::Exception&) {
    return false;
  }
}

int record_and_press_q(int delay_ms) {
  ++record.calls;
  record.delay = delay_ms;
  cv::waitKey(1);  // let the window system draw the window
  record.autosize = cv::getWindowProperty("Image check", cv::WND_PROP_AUTOSIZE);
  record.shown = cv::getWindowImageRect("Image check").size();
  return 'q';
}

class Display : public ::testing::Test {
protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display (run through xvfb-run)";
    record = Wait_record();
    previous_ = trel::set_check_image_wait(record_and_press_q);
  }
  void TearDown() override {
    if (std::getenv("DISPLAY") != nullptr) trel::set_check_image_wait(previous_);
  }
  trel::key_wait_function previous_ = nullptr;
};

TEST_F(Display, CheckImageShowsAnAutoSizedWindowWaitsWithoutLimitAndCloses) {
  cv::Mat m(240, 320, CV_16U, cv::Scalar(1000));
  m.at<unsigned short>(0, 0) = 0;
  trel::check_image(m);
  EXPECT_EQ(record.calls, 1);
  EXPECT_EQ(record.delay, 0);
  EXPECT_EQ(record.autosize, static_cast<double>(cv::WINDOW_AUTOSIZE));
  EXPECT_EQ(record.shown, m.size());
  EXPECT_FALSE(window_exists("Image check"));

  // The IplImage overload shows the same pixels without a copy.
  const trel_test::Ipl_ptr img(cvCreateImage(cvSize(300, 200), IPL_DEPTH_8U, 3));
  cvZero(img.get());
  trel::check_image(img.get());
  EXPECT_EQ(record.calls, 2);
  EXPECT_EQ(record.shown, cv::Size(300, 200));

  IplImage* null_image = nullptr;
  EXPECT_THROW(trel::check_image(null_image), trel::exception_l);
  cv::Mat empty;
  EXPECT_THROW(trel::check_image(empty), trel::exception_l);
  EXPECT_EQ(record.calls, 2);
}

TEST_F(Display, ImagescShowsTheNormalisedImageAndReturns) {
  cv::Mat m(200, 300, CV_32FC3, cv::Scalar(-1.0f, 0.0f, 7.0f));
  m.at<cv::Vec3f>(0, 0) = cv::Vec3f(2.0f, 1.0f, 0.0f);
  trel::imagesc("trel imagesc", m);
  cv::waitKey(1);
  ASSERT_TRUE(window_exists("trel imagesc"));
  EXPECT_EQ(cv::getWindowImageRect("trel imagesc").size(), m.size());
  cv::destroyWindow("trel imagesc");
  EXPECT_FALSE(window_exists("trel imagesc"));
  cv::Mat empty;
  EXPECT_THROW(trel::imagesc("trel imagesc", empty), trel::exception_l);
}

}  // namespace
