#ifndef TREL_TOOLS_COLOUR_CODES_H
#define TREL_TOOLS_COLOUR_CODES_H

// Fixed colour palettes for drawing overlays with OpenCV. Every colour is a
// cv::Scalar whose three first values are used in OpenCV's channel order
// (blue, green, red for the usual BGR images); the fourth value is always 0.

#include <opencv2/core.hpp>

#include "trel_tools/export.h"

namespace trel {

// Unpacks a packed integer: (c & 255, (c >> 8) & 255, (c >> 16) & 255, 0).
// The top byte of c is ignored.
TREL_TOOLS_EXPORT cv::Scalar UIntToColor(unsigned int c);

// Entry i (0 to 19) of the table of 20 mutually distinct colours. Any other i
// throws exception_l.
TREL_TOOLS_EXPORT cv::Scalar colour_set_max_contrast(int i);

// The same as colour_set_max_contrast(i).
TREL_TOOLS_EXPORT cv::Scalar colour_set(int i);

// Entry i (0 to 8) of the table of 9 simple colours: red, blue, green, cyan,
// magenta, light blue, grey, dark blue, sky blue (as BGR). Any other i throws
// exception_l.
TREL_TOOLS_EXPORT cv::Scalar colour_set_optimised(int i);

}  // namespace trel

#endif
