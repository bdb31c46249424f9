#ifndef TREL_TOOLS_IMAGE_UTILS_INTERNAL_H
#define TREL_TOOLS_IMAGE_UTILS_INTERNAL_H

// Helpers shared by the sources of the image operations; not installed.

#include <cstddef>
#include <memory>
#include <sstream>
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include "trel_tools/Opencv_io.h"
#include "trel_tools/exception_l.h"

namespace trel {
namespace image_internal {

struct Ipl_release {
  void operator()(IplImage* image) const { cvReleaseImage(&image); }
};
using Ipl_owner = std::unique_ptr<IplImage, Ipl_release>;

// A copy of the whole image, without an ROI.
inline Ipl_owner clone_whole(const IplImage* image) {
  Ipl_owner copy(cvCloneImage(image));
  cvResetImageROI(copy.get());
  return copy;
}

// A header of the whole image (its ROI ignored) sharing the data.
inline cv::Mat whole_image(const IplImage* image) {
  IplImage header = *image;
  header.roi = nullptr;
  return cv::cvarrToMat(&header);
}

// The ROI of an image, or the whole image when it has none.
inline CvRect roi_of(const IplImage* image) {
  if (image->roi == nullptr) return cvRect(0, 0, image->width, image->height);
  return cvRect(image->roi->xOffset, image->roi->yOffset, image->roi->width, image->roi->height);
}

inline void ensure_roi(IplImage* image) {
  if (image->roi == nullptr) cvSetImageROI(image, cvRect(0, 0, image->width, image->height));
}

inline const unsigned char* first_channel_row(const IplImage* image, int y) {
  return reinterpret_cast<const unsigned char*>(image->imageData) + static_cast<std::size_t>(image->widthStep) * y;
}

inline unsigned char* first_channel_row(IplImage* image, int y) {
  return reinterpret_cast<unsigned char*>(image->imageData) + static_cast<std::size_t>(image->widthStep) * y;
}

// The contract check of the operations on 8-bit images: a non-null image of
// 8 bits per channel, named as `role` in the message. Raised in `frame`, the
// caller's: TREL_FRAME at the call site.
inline void check_8u_image(const Frame& frame, const IplImage* image, const char* role) {
  if (image == nullptr)
    detail::throw_origin(frame.file, frame.line, frame.signature, std::string(role) + " image is null");
  if (image->depth != IPL_DEPTH_8U) {
    std::stringstream text;
    using trel::operator<<;
    text << role << " image must have depth 8 (8 bit unsigned) but has " << image->depth << ", image is " << *image;
    detail::throw_origin(frame.file, frame.line, frame.signature, text.str());
  }
}

}  // namespace image_internal
}  // namespace trel

#endif
