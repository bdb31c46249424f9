#include "trel_tools/Opencv_io.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "trel_tools/IplImage_overloads.h"
#include "trel_tools/exception_l.h"

namespace trel {

namespace {

[[noreturn]] void throw_bracket_error(const char* type_name, const std::string& text) {
  throw std::logic_error(std::string(type_name) + " input operator : " + text);
}

// Reads the bracketed form into fields[0 .. count-1]. Returns true when every
// field was read; false when the stream was not good or ended early.
bool read_bracketed(std::istream& in, const char* type_name, int count, int* fields) {
  if (!in.good()) return false;
  char c = 0;
  if (!(in >> c)) return false;
  if (c != '(') {
    std::stringstream text;
    text << "first char was " << c << " not (";
    throw_bracket_error(type_name, text.str());
  }
  long long value = 0;
  int index = 0;
  while (in.good() && index < count) {
    if (!(in >> c)) return false;
    if (c == ',' || c == ')') {
      fields[index++] = static_cast<int>(value);
      value = 0;
    } else if (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (value > INT_MAX) {
        std::stringstream text;
        text << "number too large for an int found when processing param " << index << " (only integers are allowed)";
        throw_bracket_error(type_name, text.str());
      }
    } else {
      std::stringstream text;
      text << "non numeric character " << c << " found when processing param " << index
           << " (only integers are allowed)";
      throw_bracket_error(type_name, text.str());
    }
  }
  return index == count;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const CvRect& rect) {
  return out << " (" << rect.x << "," << rect.y << "," << rect.width << "," << rect.height << ") ";
}

std::ostream& operator<<(std::ostream& out, const cv::Rect& rect) {
  return out << "(" << rect.x << "," << rect.y << "," << rect.width << "," << rect.height << ")";
}

std::ostream& operator<<(std::ostream& out, const cv::Size& size) {
  return out << "(" << size.width << "," << size.height << ")";
}

std::ostream& operator<<(std::ostream& out, const IplImage& img) {
  return out << "(" << img.width << "," << img.height << "," << img.depth << "," << img.nChannels << ")";
}

std::istream& operator>>(std::istream& in, CvRect& rect) {
  int f[4];
  if (read_bracketed(in, "CvRect", 4, f)) rect = cvRect(f[0], f[1], f[2], f[3]);
  return in;
}

std::istream& operator>>(std::istream& in, cv::Rect& rect) {
  int f[4];
  if (read_bracketed(in, "cv::Rect", 4, f)) rect = cv::Rect(f[0], f[1], f[2], f[3]);
  return in;
}

std::istream& operator>>(std::istream& in, cv::Size& size) {
  int f[2];
  if (read_bracketed(in, "cv::Size", 2, f)) size = cv::Size(f[0], f[1]);
  return in;
}

std::istream& operator>>(std::istream& in, IplImage& img) {
  int f[4];
  if (read_bracketed(in, "IplImage", 4, f)) {
    img.width = f[0];
    img.height = f[1];
    img.depth = f[2];
    img.nChannels = f[3];
  }
  return in;
}

std::istream& operator>>(std::istream& in, cv::Mat& m) {
  if (m.type() != CV_64FC1)
    TREL_THROW("operator>> cv::Mat : mat type was not doubles, instead it was " << m.type());
  if (m.empty()) TREL_THROW("operator>> cv::Mat : target matrix is empty, it must be allocated before reading");
  int rows = 0;
  int cols = 0;
  if (!(in >> rows >> cols))
    TREL_THROW("operator>> cv::Mat : could not read the row and column counts of the matrix");
  if (rows <= 0 || cols <= 0)
    TREL_THROW("operator>> cv::Mat : row and column counts must be positive, they were " << rows << " and " << cols);
  if (static_cast<long long>(rows) * cols > INT_MAX)
    TREL_THROW("operator>> cv::Mat : " << rows << " by " << cols << " values are too many for one matrix");
  // The values are gathered before the target is touched, so the memory taken
  // grows with the values the stream really holds, never with the counts alone.
  const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
  std::vector<double> values;
  values.reserve(std::min<std::size_t>(count, 4096));
  double value = 0.0;
  while (values.size() < count && in >> value) values.push_back(value);
  if (values.size() < count) return in;
  m.create(rows, cols, CV_64FC1);
  std::size_t next = 0;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) get_pix<double>(m, c, r, 0) = values[next++];
  return in;
}

}  // namespace trel
