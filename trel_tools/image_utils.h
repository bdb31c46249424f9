#ifndef TREL_TOOLS_IMAGE_UTILS_H
#define TREL_TOOLS_IMAGE_UTILS_H

// Image operations on legacy IplImage images (segmentation of an object in a
// depth image paired with an appearance image, binarising, median, integral
// image, re-centring, region copy, a Gaussian scale stack, rectangle and
// polygon utilities) and display and composition on cv::Mat (normalising,
// showing, titling, padding to 4:3, joining images into mosaics).
//
// Images passed in by pointer remain the caller's. An operation that takes an
// IplImage*& and replaces the image releases the old one and hands the new one
// back through the argument. A null image, or a depth outside an operation's
// contract, throws exception_l before anything is changed; the bad inputs an
// operation documents below are reported as one line on standard error and
// leave everything unchanged. OpenCV failures propagate as cv::Exception.
//
// The pixel operations read the first channel byte of each pixel, at byte
// offset widthStep * y + nChannels * x, and need 8-bit unsigned images
// (IPL_DEPTH_8U) unless stated otherwise. Depth images are single-channel
// 8-bit images in which 0 means no measurement and values above 240 are
// invalid readings.

#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/types_c.h>

#include "trel_tools/export.h"
#include "trel_tools/matrix.h"

// A vertex of a polygon: x, then y.
struct point {
  double x;
  double y;
};

// Area of the intersection of the simple polygons a (na vertices) and b (nb
// vertices). The vertices are snapped to a grid of 5e8 steps across the
// common bounding box, so the result is exact to about 1e-8 of that box's
// area. Two polygons of the same orientation give the overlap area with the
// sign of that orientation; take the magnitude. Fewer than three vertices in
// either polygon, or a bounding box without width or height, give 0. Throws
// exception_l for null vertex arrays or coordinates that are not finite.
TREL_TOOLS_EXPORT double intersectionArea(int na, point a[], int nb, point b[]);

namespace trel {

// ---- rectangles --------------------------------------------------------------

// The rectangle of the given size whose top-left corner is
// (cx - width / 2, cy - height / 2), with integer division.
TREL_TOOLS_EXPORT const cv::Rect centred_rect(const cv::Point& centre, const cv::Size& size);
TREL_TOOLS_EXPORT const cv::Rect centred_rect(int cx, int cy, int width, int height);

// True when the overlap of a and b covers strictly more than `threshold` of
// the area of a. Measured against a only: a small rectangle inside a large one
// overlaps by 1.0 one way round and by the area ratio the other way. A
// rectangle a without area never overlaps. Null rectangles throw exception_l.
TREL_TOOLS_EXPORT bool check_rect_overlap(CvRect* a, CvRect* b, double threshold);

// ---- IplImage operations -------------------------------------------------------

// Every byte of every channel (the whole image, the ROI is ignored) becomes 0
// when below `threshold` and 255 otherwise. Only for 8-bit images: other
// depths leave the image unchanged and write a line to standard error.
TREL_TOOLS_EXPORT void binary_image_convert(IplImage*& image, int threshold);

// The inclusive integral image of a single-channel 8-bit image as a new
// matrix owned by the caller, indexed [x][y] (one row per image column, one
// column per image row): element (x, y) is the sum of all pixels (i, j) with
// i <= x and j <= y. The whole image is summed, the ROI is ignored. Another
// channel count or depth writes a line to standard error and returns null.
TREL_TOOLS_EXPORT matrix<double>* create_integral_image(IplImage* image);

// Searches for the box whose inside is brightest compared with a ring of about
// the same area around it, on a binarised copy (every non-zero pixel counts
// as 255) of a single-channel 8-bit image; the image itself is not changed.
// Inner boxes are `s` wide and (int)(s * aspect) high for s = min_width,
// min_width * step, min_width * step^2, ... while s is below the image width
// and s * aspect below the image height, each box size searched once however
// often the scales repeat it (a step just above 1 costs no more than a step
// that gives every size once); the best box's width and top-left corner are
// returned, all three 0 when no box fits. Only boxes whose ring
// lies inside the image and is not empty are scored. Throws exception_l for a
// null image, min_width < 1, step <= 1 or aspect not above 0; another channel
// count or depth is reported on standard error with the outputs left at 0.
TREL_TOOLS_EXPORT void centre_surround_check(IplImage*& image, double aspect, int& best_width, int& best_x,
                                             int& best_y, int min_width, double step);

// Replaces every first-channel value of `target` above 240 by the value of
// `fill` at that pixel when that is at most 240, and by 255 otherwise. Both
// images must agree in width, height, depth and channel count; if not, a line
// goes to standard error and nothing changes. Both must be 8-bit.
TREL_TOOLS_EXPORT void combine_depth_maps(IplImage* target, IplImage* fill);

// The median of the first-channel values inside the ROI (the upper median for
// an even count), skipping 0 and 255 when `ignore_extremes` is set; 0 when
// fewer than three values remain. An image without ROI is given one covering
// the whole image, and keeps it.
TREL_TOOLS_EXPORT int image_median(IplImage* image, bool ignore_extremes);

// The mean position (truncated to int, in full-image coordinates) of the
// non-zero first-channel pixels inside the ROI; the centre of the ROI when
// there are none. With a kernel the pixels are counted on a binarised copy
// closed (dilated, then eroded) `iterations` times with it. An image without
// ROI is given one covering the whole image, and keeps it.
TREL_TOOLS_EXPORT void find_object_center(int& cx, int& cy, IplImage* image, IplConvKernel* kernel, int iterations);

// Pads the image with zeros so that (cx, cy) becomes the centre of the new
// image: with W the old width the new one is 2 (W - cx), with the old image at
// x = W - 2 cx, when cx <= W - cx, else 2 cx with the old image at x = 0; the
// same in y. Any depth and channel count; the new image has no ROI. The old
// image's ROI is reset, the old image released and replaced. Throws
// exception_l for a null image or a new size beyond int.
TREL_TOOLS_EXPORT void recenter_image(int cx, int cy, IplImage*& image);

// Zeroes every depth pixel with value <= max(lower, 0) or above `upper`, then
// every pixel (all channels) of the appearance image outside the remaining
// mask; with a kernel the mask is first binarised and closed `iterations`
// times with it. Whole images, ROIs ignored. A depth image with more than one
// channel is reported on standard error and nothing changes. Both images must
// be 8-bit and of the same width and height.
TREL_TOOLS_EXPORT void threshold_image_pair(int upper, int lower, IplImage*& app, IplImage*& depth,
                                            IplConvKernel* kernel, int iterations);

// Segments the object in front of the camera and re-centres both images on it:
// thresholds the pair around t = `threshold` (the median of the depth image,
// extremes ignored, when `threshold` is below 1) with the relative
// `tolerance`, scales the depth ROI about its centre by (scale_x, scale_y),
// finds the object's centre inside it, re-centres both images on that centre
// and sets on both the ROI of the unscaled size centred in the new image.
// Both images are replaced. They must be 8-bit, of the same size, the scales
// positive and the tolerance finite, and the band (1 -/+ tolerance) * t and
// the scaled ROI must fit an int and the depth image; otherwise exception_l
// is thrown before anything changes (the depth image is not even given the
// ROI the median would give it).
TREL_TOOLS_EXPORT void segment_and_recentre(IplImage*& app, IplImage*& depth, double tolerance, double scale_x,
                                            double scale_y, IplConvKernel* kernel, int iterations, int threshold);

// Zeroes `dst` and copies the part of `src_rect` of `src` that lies inside
// both images into the matching part of `dst_rect` of `dst`. The rectangles
// are clipped against both images in place and left set as the ROIs of the
// images. Rectangles may reach beyond the range of int (a width of INT_MAX
// for "to the end"): the clipping does not overflow. A source rectangle
// starting beyond the source image, or rectangles whose clipped values do not
// fit an int (a source starting near INT_MIN moves the destination on by as
// much), throw std::logic_error before anything changes; a clipped region without area
// copies nothing and leaves both images without ROI. src and dst must have the
// same depth and channel count (else OpenCV fails).
TREL_TOOLS_EXPORT void image_region_copy(IplImage* src, IplImage* dst, CvRect& src_rect, CvRect& dst_rect);

// A Gaussian scale stack without resizing: appends count + 1 new vectors to
// the empty `levels`, level 0 holding clones of the images, level k + 1 each
// image smoothed by OpenCV's Gaussian with standard deviation sqrt(sigma^k)
// (border replicated, kernel size from the deviation), always from the input
// images. Every vector and image belongs to the caller. Throws exception_l,
// with `levels` unchanged, for null arguments or images, a non-empty `levels`
// or sigma not above 0.
TREL_TOOLS_EXPORT void create_image_pyramid(std::vector<IplImage*>* images,
                                            std::vector<std::vector<IplImage*>*>* levels, const unsigned int& count,
                                            const double& sigma);

// ---- display and composition on cv::Mat -------------------------------------------

// Minimum and maximum over all pixels and channels (any depth but the user
// type, 1 to 4 channels). A matrix without elements leaves both unchanged.
TREL_TOOLS_EXPORT void image_range(const cv::Mat& m, double& min, double& max);

// The image as 64-bit floats scaled to [0, 1]: (value - min) / (max - min),
// each channel by its own minimum and maximum. A constant image (or channel)
// becomes all zeros.
TREL_TOOLS_EXPORT cv::Mat image_normalise(cv::Mat& m);

// Shows image_normalise(m) in the named window and returns at once. Throws
// exception_l for an empty image.
TREL_TOOLS_EXPORT void imagesc(const std::string& window, cv::Mat& m);

// Shows the image in the auto-sized window "Image check", waits for a key
// without time limit and destroys the window. The IplImage overload shows the
// image's data (its ROI) without copying; a null image throws exception_l.
TREL_TOOLS_EXPORT void check_image(cv::Mat& m);
TREL_TOOLS_EXPORT void check_image(IplImage* image);

// The wait check_image uses: called with the delay in milliseconds (0: no
// limit) while the window is shown, returns the key code. cv::waitKey unless
// replaced; programs without a person at the screen (and tests) install their
// own. Returns the previous wait; null restores cv::waitKey.
using key_wait_function = int (*)(int delay_ms);
TREL_TOOLS_EXPORT key_wait_function set_check_image_wait(key_wait_function wait);

// Draws `title` (thickness 1, line type 8) centred at the top of the image,
// its baseline text height + 10 pixels from the top edge. When the text is
// at least as wide or as high as the image, a warning goes to standard error
// and the title is drawn all the same.
TREL_TOOLS_EXPORT void image_title(cv::Mat& m, const std::string& title, int font_face, double font_scale,
                                   cv::Scalar colour);

// The 4:3 frame around a size, in integers: 3 cols / 4 rows when
// 4 rows < 3 cols, else 4 rows / 3 cols.
TREL_TOOLS_EXPORT const cv::Size frame_4_3_size(const cv::Size& size);

// Pads the 8-bit 3-channel image, centred, with black to its 4:3 frame and
// scales that to width x height (bilinear); `m` is replaced. Throws exception_l
// for an empty image, another type or a size without area.
TREL_TOOLS_EXPORT void convert_res(cv::Mat& m, int width, int height);

// Mosaics of 8-bit 3-channel images on black (an empty image takes no room).
// With `centre` each image is centred across the other dimension instead of
// lying at the top or left edge; with `frame_4_3` the result is finally padded
// to its 4:3 frame. Images of another type throw exception_l.
// a then b from left to right.
TREL_TOOLS_EXPORT const cv::Mat join_images_side_by_side(const cv::Mat& a, const cv::Mat& b, bool centre,
                                                         bool frame_4_3);
// a above b.
TREL_TOOLS_EXPORT const cv::Mat join_images_on_top(const cv::Mat& a, const cv::Mat& b, bool centre,
                                                   bool frame_4_3);
// Side by side when the 4:3 frame of that layout has strictly less area than
// the frame of the two on top of each other, else on top.
TREL_TOOLS_EXPORT const cv::Mat join_images(const cv::Mat& a, const cv::Mat& b, bool centre, bool frame_4_3);
// A grid in the given order, row by row, with the column count (1 to n - 1)
// whose width : height comes closest to 4:3 (the smaller count on ties); each
// row is laid out as successive side-by-side joins, the rows as successive
// on-top joins. A single image is returned as it is (padded to 4:3 when
// asked), no images give an empty matrix.
TREL_TOOLS_EXPORT const cv::Mat join_images_ordered(const std::vector<cv::Mat>& images, bool centre,
                                                    bool frame_4_3);
// Repeated pairwise join_images of neighbours (0 with 1, 2 with 3, ...), always
// centred (`centre` is not used), until one image is left; the final join is
// padded to 4:3 when asked. A single image is returned as it is, no images
// give an empty matrix.
TREL_TOOLS_EXPORT const cv::Mat join_images_unordered(const std::vector<cv::Mat>& images, bool centre,
                                                      bool frame_4_3);

}  // namespace trel

#endif
