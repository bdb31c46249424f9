#include "trel_pose/pose_arrays.h"

#include "trel_tools/exception_l.h"

namespace trel {

std::vector<double> flatten_rows(const std::vector<std::vector<double>>& rows, int cols, const char* what) {
  const std::size_t width = static_cast<std::size_t>(cols);
  std::vector<double> flat;
  flat.reserve(rows.size() * width);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].size() != width) TREL_THROW(what << " " << i << " has " << rows[i].size() << " values, expected " << cols);
    flat.insert(flat.end(), rows[i].begin(), rows[i].end());
  }
  return flat;
}

}  // namespace trel
