#include "trel_tools/Opencv_io.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "trel_tools/exception_l.h"
#include "tests/test_support.h"

namespace {

using trel::operator<<;
using trel::operator>>;

using trel_test::detail_of;

template <typename T>
std::string written(const T& value) {
  std::stringstream out;
  out << value;
  return out.str();
}

TEST(OpencvIoWrite, WritesEachTextForm) {
  EXPECT_EQ(written(cvRect(1, 2, 3, 4)), " (1,2,3,4) ");
  EXPECT_EQ(written(cv::Rect(1, -2, 3, 4)), "(1,-2,3,4)");
  EXPECT_EQ(written(cv::Size(640, 480)), "(640,480)");
  IplImage header = cvIplImage();
  header.width = 320;
  header.height = 240;
  header.depth = static_cast<int>(IPL_DEPTH_8S);
  header.nChannels = 3;
  EXPECT_EQ(written(header), "(320,240,-2147483640,3)");
}

// Every bracketed reader gives the same fields for the same text; the first
// four are x, y, width, height (width, height for cv::Size).
std::vector<int> read_rect(const std::string& text, std::istream::pos_type* rest = nullptr) {
  std::stringstream in(text);
  cv::Rect r(-1, -1, -1, -1);
  in >> r;
  EXPECT_FALSE(in.fail()) << text;
  if (rest) *rest = in.tellg();
  return {r.x, r.y, r.width, r.height};
}

std::vector<int> read_cvrect(const std::string& text) {
  std::stringstream in(text);
  CvRect r = cvRect(-1, -1, -1, -1);
  in >> r;
  EXPECT_FALSE(in.fail()) << text;
  return {r.x, r.y, r.width, r.height};
}

std::vector<int> read_ipl(const std::string& text) {
  std::stringstream in(text);
  IplImage h = cvIplImage();
  h.widthStep = 77;
  in >> h;
  EXPECT_FALSE(in.fail()) << text;
  EXPECT_EQ(h.widthStep, 77) << "a field outside the geometry was touched";
  return {h.width, h.height, h.depth, h.nChannels};
}

TEST(OpencvIoRead, BracketedFormsSkipWhitespaceBetweenCharacters) {
  const std::vector<std::string> texts = {"  (10,20,30,40)", " ( 1 0 , 2 0 , 3 0 , 4 0 ) ", "\n(10,20,30)40,",
                                          "(10)20)30,40)"};
  const std::vector<int> expected = {10, 20, 30, 40};
  for (const std::string& t : texts) {
    EXPECT_EQ(read_rect(t), expected) << t;
    EXPECT_EQ(read_cvrect(t), expected) << t;
    EXPECT_EQ(read_ipl(t), expected) << t;
  }
  EXPECT_EQ(read_rect("(,,,)"), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(read_ipl("(0007,2147483647,,1)"), (std::vector<int>{7, 2147483647, 0, 1}));
}

TEST(OpencvIoRead, SizeStopsJustAfterTheClosingBracket) {
  std::stringstream in("(640,480)X(1,2)");
  cv::Size s;
  in >> s;
  EXPECT_EQ(s, cv::Size(640, 480));
  EXPECT_EQ(in.peek(), 'X');
  in.get();
  in >> s;
  EXPECT_EQ(s, cv::Size(1, 2));

  std::istream::pos_type rest;
  read_rect("(1,2,3,4) tail", &rest);
  EXPECT_EQ(rest, std::istream::pos_type(9));
}

template <typename T>
std::string logic_error_of(const std::string& text, T target) {
  std::stringstream in(text);
  try {
    in >> target;
  } catch (const trel::exception_l& e) {
    return std::string("<exception_l> ") + e.what();
  } catch (const std::logic_error& e) {
    return e.what();
  }
  return "<nothing thrown>";
}

TEST(OpencvIoRead, RejectsSignsAndOtherCharactersWithBareText) {
  IplImage header = cvIplImage();
  EXPECT_EQ(logic_error_of("(1,-2,3,4)", cv::Rect()),
            "cv::Rect input operator : non numeric character - found when processing param 1 (only integers are "
            "allowed)");
  EXPECT_EQ(logic_error_of("(1,2,+3,4)", cvRect(0, 0, 0, 0)),
            "CvRect input operator : non numeric character + found when processing param 2 (only integers are "
            "allowed)");
  EXPECT_EQ(logic_error_of("(1.5,2)", cv::Size()),
            "cv::Size input operator : non numeric character . found when processing param 0 (only integers are "
            "allowed)");
  EXPECT_EQ(logic_error_of("(1,2,3,x)", header),
            "IplImage input operator : non numeric character x found when processing param 3 (only integers are "
            "allowed)");
  EXPECT_EQ(logic_error_of("[1,2,3,4]", cv::Rect()), "cv::Rect input operator : first char was [ not (");
  EXPECT_EQ(logic_error_of("  1,2)", cv::Size()), "cv::Size input operator : first char was 1 not (");
  EXPECT_EQ(logic_error_of("{", cvRect(0, 0, 0, 0)), "CvRect input operator : first char was { not (");
  EXPECT_EQ(logic_error_of("{", header), "IplImage input operator : first char was { not (");
  EXPECT_EQ(logic_error_of("(2147483648,1)", cv::Size()),
            "cv::Size input operator : number too large for an int found when processing param 0 (only integers "
            "are allowed)");
}

TEST(OpencvIoRead, FailureLeavesTheTargetUnchanged) {
  cv::Rect r(9, 9, 9, 9);
  std::stringstream bad("(1,2,x,4)");
  EXPECT_THROW(bad >> r, std::logic_error);
  EXPECT_EQ(r, cv::Rect(9, 9, 9, 9));

  std::stringstream truncated("(1,2,3");
  truncated >> r;
  EXPECT_TRUE(truncated.fail());
  EXPECT_EQ(r, cv::Rect(9, 9, 9, 9));

  std::stringstream empty("   ");
  empty >> r;
  EXPECT_TRUE(empty.fail());
  EXPECT_EQ(r, cv::Rect(9, 9, 9, 9));

  std::stringstream not_good("(1,2,3,4)");
  not_good.setstate(std::ios::failbit);
  not_good >> r;
  EXPECT_EQ(r, cv::Rect(9, 9, 9, 9));
  not_good.clear();
  EXPECT_EQ(not_good.peek(), '(') << "a stream that was not good must not be read";
}

TEST(OpencvIoReadMat, ReadsCountsThenValuesRowByRow) {
  cv::Mat m(1, 1, CV_64FC1, cv::Scalar(0));
  std::stringstream in("2 3\n1 2 3\n4 5 6.5 rest");
  in >> m;
  ASSERT_EQ(m.rows, 2);
  ASSERT_EQ(m.cols, 3);
  EXPECT_EQ(m.type(), CV_64FC1);
  EXPECT_EQ(m.at<double>(0, 2), 3.0);
  EXPECT_EQ(m.at<double>(1, 0), 4.0);
  EXPECT_EQ(m.at<double>(1, 2), 6.5);
  std::string rest;
  in >> rest;
  EXPECT_EQ(rest, "rest");
}

TEST(OpencvIoReadMat, ShortInputFailsTheStreamAndLeavesTheTarget) {
  // Huge counts with a few values must neither allocate for the counts nor
  // touch the target.
  for (const char* text : {"2 2 1 2 x", "2 2 1 2 3", "46340 46340 1 2 3"}) {
    cv::Mat m(1, 1, CV_64FC1, cv::Scalar(8.0));
    std::stringstream in(text);
    in >> m;
    EXPECT_TRUE(in.fail()) << text;
    ASSERT_EQ(m.size(), cv::Size(1, 1)) << text;
    EXPECT_EQ(m.at<double>(0, 0), 8.0) << text;
  }
}

TEST(OpencvIoReadMat, RefusesWrongTargetsAndBadCountsWithoutChanges) {
  struct Case {
    const char* text;
    cv::Mat target;
    std::string detail;
  };
  const std::vector<Case> cases = {
      {"1 1 5", cv::Mat(2, 2, CV_32FC1, cv::Scalar(3)),
       "operator>> cv::Mat : mat type was not doubles, instead it was 5"},
      {"1 1 5", cv::Mat(2, 2, CV_64FC2, cv::Scalar(3, 3)),
       "operator>> cv::Mat : mat type was not doubles, instead it was 14"},
      {"1 1 5", cv::Mat(0, 0, CV_64FC1),
       "operator>> cv::Mat : target matrix is empty, it must be allocated before reading"},
      {"abc", cv::Mat(2, 2, CV_64FC1, cv::Scalar(3)),
       "operator>> cv::Mat : could not read the row and column counts of the matrix"},
      {"4", cv::Mat(2, 2, CV_64FC1, cv::Scalar(3)),
       "operator>> cv::Mat : could not read the row and column counts of the matrix"},
      {"0 3 1", cv::Mat(2, 2, CV_64FC1, cv::Scalar(3)),
       "operator>> cv::Mat : row and column counts must be positive, they were 0 and 3"},
      {"3 -1 1", cv::Mat(2, 2, CV_64FC1, cv::Scalar(3)),
       "operator>> cv::Mat : row and column counts must be positive, they were 3 and -1"},
      {"333133 3331333 3 1 2", cv::Mat(2, 2, CV_64FC1, cv::Scalar(3)),
       "operator>> cv::Mat : 333133 by 3331333 values are too many for one matrix"},
      {"46341 46341 1", cv::Mat(2, 2, CV_64FC1, cv::Scalar(3)),
       "operator>> cv::Mat : 46341 by 46341 values are too many for one matrix"},
  };
  for (const Case& c : cases) {
    cv::Mat target = c.target;  // a header copy: clone() would drop the type of an empty matrix
    const cv::Size before = target.size();
    std::stringstream in(c.text);
    try {
      in >> target;
      ADD_FAILURE() << "nothing thrown for " << c.text;
    } catch (const trel::exception_l& e) {
      EXPECT_EQ(detail_of(e), c.detail) << c.text;
    }
    EXPECT_EQ(target.size(), before) << c.text;
  }
}

}  // namespace
