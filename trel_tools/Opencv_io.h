#ifndef TREL_TOOLS_OPENCV_IO_H
#define TREL_TOOLS_OPENCV_IO_H

// Text forms of the OpenCV types used in configuration values and messages.
// The operators live in namespace trel; callers outside it bring them in with
// a using-declaration (OpenCV's own operator<< for cv::Rect and cv::Size
// writes a different form).
//
// Bracketed read form: optional whitespace, "(", then the fields, each a run
// of decimal digits ended by "," or ")" (the two are interchangeable; an empty
// field reads 0). Whitespace between characters is skipped. Any other
// character, a sign included, throws std::logic_error with a bare text naming
// it and the zero-based field index; so does a field too large for an int.
// The target is assigned only once every field has been read: a throw, or a
// stream that ends early (left in its failed state), leaves it unchanged. A
// stream that is not good on entry is returned at once. After a successful
// read the stream stands just after the last terminator.

#include <istream>
#include <ostream>

#include <opencv2/core.hpp>
#include <opencv2/core/types_c.h>

#include "trel_tools/export.h"

namespace trel {

// " (x,y,width,height) ": a blank before and after the brackets.
TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream& out, const CvRect& rect);
// "(x,y,width,height)".
TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream& out, const cv::Rect& rect);
// "(width,height)".
TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream& out, const cv::Size& size);
// The geometry only: "(width,height,depth,nChannels)", depth as a signed int
// (IPL_DEPTH_8S prints as -2147483640).
TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream& out, const IplImage& img);

// Fields x, y, width, height.
TREL_TOOLS_EXPORT std::istream& operator>>(std::istream& in, CvRect& rect);
TREL_TOOLS_EXPORT std::istream& operator>>(std::istream& in, cv::Rect& rect);
// Fields width, height.
TREL_TOOLS_EXPORT std::istream& operator>>(std::istream& in, cv::Size& size);
// Fields width, height, depth, nChannels of an existing header; nothing else
// of the header is touched and no data is allocated.
TREL_TOOLS_EXPORT std::istream& operator>>(std::istream& in, IplImage& img);

// Reads "rows cols" and then rows x cols doubles, row by row, whitespace
// separated. The target must be a non-empty CV_64FC1 matrix; once every value
// has been read it becomes a rows x cols matrix holding them (a target of
// another size gets a new buffer, as with cv::Mat::create). Throws
// exception_l, before anything is changed, when the target has another type
// or is empty, when the two counts cannot be read or are not positive, or when
// rows x cols does not fit an int. A stream that runs out of values, or holds
// a value that fails to read, leaves the target unchanged and the stream in
// its failed state; the memory used grows only with the values actually read.
TREL_TOOLS_EXPORT std::istream& operator>>(std::istream& in, cv::Mat& m);

}  // namespace trel

#endif
