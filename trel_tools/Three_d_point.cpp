#include "trel_tools/Three_d_point.h"

#include <iostream>

#include "trel_tools/exception_l.h"

namespace trel {

namespace {

constexpr int kIndexedValues = 6;

[[noreturn]] void throw_bad_index(const char* signature, long long index) {
  TREL_THROW_AS(signature, "Three_d_point::operator[] : passed index of " << index
                                                                           << " but only values 0-5 are valid.");
}

}  // namespace

Three_d_point::Three_d_point()
    : x(0), y(0), z(0), a(0), b(0), c(0), extra_1(0), extra_2(0), extra_3(0) {}

Three_d_point::Three_d_point(double x_in, double y_in, double z_in, int a_in, int b_in, int c_in)
    : x(x_in), y(y_in), z(z_in), a(a_in), b(b_in), c(c_in), extra_1(0), extra_2(0), extra_3(0) {}

Three_d_point::Three_d_point(const Three_d_point& other) = default;

Three_d_point& Three_d_point::operator=(const Three_d_point& other) = default;

Three_d_point::~Three_d_point() = default;

Three_d_point& Three_d_point::operator=(const std::vector<double>& v) {
  // Checked before anything is written, so a refused vector leaves the point whole.
  if (v.size() > static_cast<std::size_t>(kIndexedValues)) throw_bad_index(TREL_FUNCTION_SIGNATURE, kIndexedValues);
  for (std::size_t i = 0; i < v.size(); ++i) (*this)[static_cast<int>(i)] = v[i];
  return *this;
}

double& Three_d_point::operator[](int i) {
  switch (i) {
    case 0: return x;
    case 1: return y;
    case 2: return z;
    case 3: return a;
    case 4: return b;
    case 5: return c;
    default: throw_bad_index(TREL_FUNCTION_SIGNATURE, i);
  }
}

double Three_d_point::operator[](int i) const { return const_cast<Three_d_point&>(*this)[i]; }

Three_d_point& Three_d_point::operator+=(const std::vector<double>& v) {
  if (v.size() != 3) {
    std::cerr << "Can't call += on a 3d point a Vector not of 3 dimensions, attempted Vector had size " << v.size()
              << std::endl;
    return *this;
  }
  x += v[0];
  y += v[1];
  z += v[2];
  return *this;
}

double Three_d_point::dot_product(const std::vector<double>& v) const {
  if (v.size() != 3) {
    std::cerr << "Can't do a dot product of a 3d point with a vector of size :" << v.size() << std::endl;
    return -1.0;
  }
  return x * v[0] + y * v[1] + z * v[2];
}

std::ostream& operator<<(std::ostream& out, const Three_d_point& point) {
  out << point.x << "," << point.y << "," << point.z;
  if (point.a != 0 || point.b != 0 || point.c != 0) out << "," << point.c << "," << point.b << "," << point.a;
  return out;
}

}  // namespace trel
