#ifndef TREL_TOOLS_THREE_D_POINT_H
#define TREL_TOOLS_THREE_D_POINT_H

#include <ostream>
#include <vector>

#include "trel_tools/export.h"

namespace trel {

// A point in 3-D space with three numeric tags. Indices 0 to 5 reach
// x, y, z, a, b, c; the three extras are carried along by copies and
// assignments only. The camera uses x, y, z for world points and for
// (u, v, disparity) triples alike and leaves the other fields alone.
class TREL_TOOLS_EXPORT Three_d_point {
public:
  // All nine values 0.
  Three_d_point();
  // Coordinates from the doubles, tags from the ints; extras 0.
  Three_d_point(double x, double y, double z, int a, int b, int c);
  Three_d_point(const Three_d_point& other);
  Three_d_point& operator=(const Three_d_point& other);
  virtual ~Three_d_point();

  // Writes v[i] to index i for every element. More than 6 elements throw
  // exception_l with the message of operator[] for index 6, and then the
  // point is unchanged. An empty vector changes nothing.
  Three_d_point& operator=(const std::vector<double>& v);

  // Index 0 to 5 as above; any other index throws exception_l.
  double& operator[](int i);
  double operator[](int i) const;

  // Adds v to (x, y, z) when v has exactly 3 elements; otherwise prints a line
  // on standard error and leaves the point unchanged.
  Three_d_point& operator+=(const std::vector<double>& v);

  // x v[0] + y v[1] + z v[2] when v has exactly 3 elements; otherwise prints a
  // line on standard error and returns -1.0.
  double dot_product(const std::vector<double>& v) const;

  double x;
  double y;
  double z;
  double a;
  double b;
  double c;
  double extra_1;
  double extra_2;
  double extra_3;
};

// "x,y,z", followed by ",c,b,a" (tags in reverse index order) unless all three
// tags are exactly 0. No brackets, no line end; the stream's number format.
TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream& out, const Three_d_point& point);

}  // namespace trel

#endif
