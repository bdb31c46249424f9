#include "trel_tools/colour_codes.h"

#include "trel_tools/exception_l.h"

namespace trel {

namespace {

struct rgb_entry {
  unsigned char v0, v1, v2;
};

constexpr rgb_entry max_contrast_table[] = {
    {0, 179, 255},   {117, 62, 128}, {0, 104, 255},  {215, 189, 166}, {32, 0, 193},
    {98, 162, 206},  {102, 112, 129}, {52, 125, 0},  {142, 118, 246}, {138, 83, 0},
    {92, 122, 255},  {122, 55, 83},  {0, 142, 255},  {81, 40, 179},   {0, 200, 244},
    {13, 24, 127},   {0, 170, 147},  {21, 51, 89},   {19, 58, 241},   {22, 44, 35},
};

constexpr rgb_entry optimised_table[] = {
    {0, 0, 255},     {255, 0, 0},     {0, 255, 0},   {255, 255, 0}, {255, 0, 255},
    {255, 128, 128}, {128, 128, 128}, {128, 0, 0},   {255, 128, 0},
};

constexpr int max_contrast_count = sizeof(max_contrast_table) / sizeof(max_contrast_table[0]);
constexpr int optimised_count = sizeof(optimised_table) / sizeof(optimised_table[0]);

cv::Scalar to_scalar(const rgb_entry& e) { return cv::Scalar(e.v0, e.v1, e.v2, 0); }

}  // namespace

cv::Scalar UIntToColor(unsigned int c) { return cv::Scalar(c & 255u, (c >> 8) & 255u, (c >> 16) & 255u, 0); }

cv::Scalar colour_set_max_contrast(int i) {
  if (i < 0 || i >= max_contrast_count)
    TREL_THROW("Requested colour " << i << " but this map only holds up to " << max_contrast_count - 1);
  return to_scalar(max_contrast_table[i]);
}

cv::Scalar colour_set(int i) { return colour_set_max_contrast(i); }

cv::Scalar colour_set_optimised(int i) {
  if (i < 0 || i >= optimised_count)
    TREL_THROW("Requested colour " << i << " but this map only holds up to " << optimised_count - 1);
  return to_scalar(optimised_table[i]);
}

}  // namespace trel
