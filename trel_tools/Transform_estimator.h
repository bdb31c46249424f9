#ifndef TREL_TOOLS_TRANSFORM_ESTIMATOR_H
#define TREL_TOOLS_TRANSFORM_ESTIMATOR_H

#include <vector>

#include "trel_tools/export.h"
#include "trel_tools/matrix.h"

namespace trel {

// Fits a 3-D projective transform to corresponding point pairs by linear least
// squares (direct linear transform). Stateless: copies and default objects are
// all alike.
//
// Result H (4 x 4, H(3, 3) = 1) maps target point q onto original point p:
//   p_x = (h11 q_x + h12 q_y + h13 q_z + h14) / w,  p_y, p_z alike with rows 1, 2,
//   w   =  h41 q_x + h42 q_y + h43 q_z + 1.
// Each pair gives three equations for the 15 unknowns: five pairs in general
// position determine H, more give the least-squares fit, fewer the
// minimum-norm solution of the underdetermined system (singular values at or
// below 2 * epsilon * their sum count as zero).
//
// Points are (x, y, z) triples; original point i pairs with target point i.
// Every overload throws exception_l, before any fitting, when the point counts
// differ, when a pair's coordinate counts differ or are not 3, when a
// coordinate is not finite, or when there are no pairs at all. The inputs are
// never modified.
class TREL_TOOLS_EXPORT Transform_estimator {
public:
  Transform_estimator() = default;
  Transform_estimator(const Transform_estimator&) = default;
  Transform_estimator& operator=(const Transform_estimator&) = default;
  virtual ~Transform_estimator();

  const matrix<double> estimate_transform(std::vector<std::vector<double>>& original,
                                          std::vector<std::vector<double>>& target) const;
  // Copies the pointed-to points, then fits. Also throws for a null set or a
  // null point.
  const matrix<double> estimate_transform(std::vector<std::vector<double>*>* original,
                                          std::vector<std::vector<double>*>* target) const;
  // One point per row, its coordinates in the columns. The row counts are
  // checked first, then that the column counts agree.
  const matrix<double> estimate_transform(matrix<double> original, matrix<double> target) const;
};

}  // namespace trel

#endif
