#ifndef TREL_TOOLS_STD_VECTOR_OVERLOADS_H
#define TREL_TOOLS_STD_VECTOR_OVERLOADS_H

#include <cmath>
#include <ostream>
#include <vector>

#include "trel_tools/exception_l.h"
#include "trel_tools/export.h"

// Element-wise arithmetic and a compact text form for the std::vector values
// (parameter vectors, residuals, points) that travel through the system, plus
// small numeric helpers. The operators live in namespace trel; code outside it
// brings them in with `using namespace trel` or a using-declaration.
namespace trel {

// vec1[i] += vec2[i] in ascending i. Throws exception_l when the sizes differ;
// vec1 is then unchanged. vec2 may be vec1 itself.
template <class T>
std::vector<T>& operator+=(std::vector<T>& vec1, const std::vector<T>& vec2);

// vec1[i] -= vec2[i]. Throws exception_l when the sizes differ; vec1 is then unchanged.
template <class T>
std::vector<T>& operator-=(std::vector<T>& vec1, const std::vector<T>& vec2);

// New vector with element i = vec1[i] - vec2[i]. Throws exception_l when the sizes differ.
template <class T>
const std::vector<T> operator-(const std::vector<T>& vec1, const std::vector<T>& vec2);

// Text form " Size: <n> { e0 e1 ... } " (leading and trailing blank); elements
// use the stream's current number formatting.
template <class T>
std::ostream& operator<<(std::ostream& out, const std::vector<T>& vec);

// True when |a - b| <= tolerance (inclusive); a NaN difference gives false.
template <class T>
bool eq(const T& a, const T& b, T tolerance);

// b if b > a, otherwise a: a wins ties and comparisons made false by a NaN.
template <class T>
T max_portable(T a, T b);

template <class T>
const T square(T x);

// Elements added in index order into a double accumulator, then converted to T
// (truncation toward zero for integers), so int sums do not overflow on the way.
// 0 for an empty vector.
template <class T>
const T sum(const std::vector<T>& vec);

// Set the argument to 0 of its type; matrix<T> initialises fresh elements through these.
TREL_TOOLS_EXPORT void default_val(double& value);
TREL_TOOLS_EXPORT void default_val(float& value);
TREL_TOOLS_EXPORT void default_val(int& value);

// ---- implementation ---------------------------------------------------------

template <class T>
std::vector<T>& operator+=(std::vector<T>& vec1, const std::vector<T>& vec2) {
  if (vec1.size() != vec2.size())
    TREL_THROW("std_vector_overloads::operator+=(std::vector) : vec1 had size " << vec1.size()
                                                                                << " but vec2 had size "
                                                                                << vec2.size());
  for (typename std::vector<T>::size_type i = 0; i < vec1.size(); ++i) vec1[i] += vec2[i];
  return vec1;
}

template <class T>
std::vector<T>& operator-=(std::vector<T>& vec1, const std::vector<T>& vec2) {
  if (vec1.size() != vec2.size())
    TREL_THROW("vec1 had size " << vec1.size() << " but vec2 had size " << vec2.size());
  for (typename std::vector<T>::size_type i = 0; i < vec1.size(); ++i) vec1[i] -= vec2[i];
  return vec1;
}

template <class T>
const std::vector<T> operator-(const std::vector<T>& vec1, const std::vector<T>& vec2) {
  if (vec1.size() != vec2.size())
    TREL_THROW("size mismatch. vec1 had size " << vec1.size() << " but vec2 had size " << vec2.size());
  std::vector<T> result(vec1.size());
  for (typename std::vector<T>::size_type i = 0; i < vec1.size(); ++i) result[i] = vec1[i] - vec2[i];
  return result;
}

template <class T>
std::ostream& operator<<(std::ostream& out, const std::vector<T>& vec) {
  out << " Size: " << vec.size() << " { ";
  for (const T& element : vec) out << element << " ";
  out << "} ";
  return out;
}

template <class T>
bool eq(const T& a, const T& b, T tolerance) {
  return std::abs(a - b) <= tolerance;
}

template <class T>
T max_portable(T a, T b) {
  return b > a ? b : a;
}

template <class T>
const T square(T x) {
  return x * x;
}

template <class T>
const T sum(const std::vector<T>& vec) {
  double total = 0.0;
  for (const T& element : vec) total += static_cast<double>(element);
  return static_cast<T>(total);
}

// The vector operators for double are compiled once, in the library.
extern template TREL_TOOLS_EXPORT std::vector<double>& operator+=(std::vector<double>&,
                                                                  const std::vector<double>&);
extern template TREL_TOOLS_EXPORT std::vector<double>& operator-=(std::vector<double>&,
                                                                  const std::vector<double>&);
extern template TREL_TOOLS_EXPORT const std::vector<double> operator-(const std::vector<double>&,
                                                                      const std::vector<double>&);
extern template TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream&, const std::vector<double>&);

}  // namespace trel

#endif
