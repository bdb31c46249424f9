#ifndef CAMERA_POSE_REFINE_MEX_HOST_INTERFACE_H
#define CAMERA_POSE_REFINE_MEX_HOST_INTERFACE_H

#include <cstddef>
#include <string>
#include <vector>

namespace trel {

// The host's array type, opaque to the entry. An adapter converts its own array
// pointers (mxArray* for Octave and MATLAB) to and from Mex_array* and back;
// the entry never dereferences one itself.
struct Mex_array;

// The operations of the MEX API that the plug-in entry relies on, and nothing else.
// The real adapter forwards each one to the host (mex_octave.cpp); tests supply a fake.
class Mex_host {
public:
  virtual ~Mex_host() = default;

  // mxIsDouble. True only when get_pr(a) holds get_m(a) * get_n(a) real doubles in
  // column-major order; the entry reads no data of an array for which this is false.
  virtual bool is_double(const Mex_array* a) const = 0;
  // mxGetM, mxGetN: rows and columns.
  virtual std::size_t get_m(const Mex_array* a) const = 0;
  virtual std::size_t get_n(const Mex_array* a) const = 0;
  // mxGetNumberOfElements.
  virtual std::size_t get_number_of_elements(const Mex_array* a) const = 0;
  // mxGetPr: the real data, column-major. May be null for an empty array.
  virtual double* get_pr(const Mex_array* a) const = 0;
  // mxGetScalar: the first element as a double.
  virtual double get_scalar(const Mex_array* a) const = 0;
  // mxGetClassName: the class name, used only inside error messages.
  virtual const char* get_class_name(const Mex_array* a) const = 0;
  // mxCreateDoubleMatrix(m, n, mxREAL): a new real m by n matrix, zero-filled.
  virtual Mex_array* create_double_matrix(std::size_t m, std::size_t n) = 0;
  // mxCreateStructMatrix(1, 1, count, names): a new 1 by 1 struct with these fields, all empty.
  virtual Mex_array* create_struct(const char* const* field_names, int count) = 0;
  // mxSetField(s, 0, name, value): s owns value afterwards.
  virtual void set_field(Mex_array* s, const char* name, Mex_array* value) = 0;
  // mxCreateString(text): a new character row.
  virtual Mex_array* create_string(const char* text) = 0;
  // mxIsStruct, mxIsChar, mxIsLogical: the array's class.
  virtual bool is_struct(const Mex_array* a) const = 0;
  virtual bool is_char(const Mex_array* a) const = 0;
  virtual bool is_logical(const Mex_array* a) const = 0;
  // mxGetNumberOfFields, mxGetFieldNameByNumber: the field names of a struct (is_struct),
  // k from 0 to get_number_of_fields(s) - 1.
  virtual int get_number_of_fields(const Mex_array* s) const = 0;
  virtual const char* get_field_name_by_number(const Mex_array* s, int k) const = 0;
  // mxGetField(s, 0, name): the value of a field of element 0 of a struct (is_struct,
  // at least one element); null when the field is absent or was never set.
  virtual const Mex_array* get_field(const Mex_array* s, const char* name) const = 0;
  // mxArrayToString: the characters of a char array (is_char), column-major, copied
  // out; the host's own copy is released before returning.
  virtual std::string get_string(const Mex_array* a) const = 0;
  // mxGetLogicals: the elements of a logical array (is_logical), column-major, copied out.
  virtual std::vector<bool> get_logicals(const Mex_array* a) const = 0;
  // mxCreateLogicalMatrix(m, n): a new m by n logical matrix, all false.
  virtual Mex_array* create_logical_matrix(std::size_t m, std::size_t n) = 0;
  // Element k (column-major) of a logical array the entry created itself.
  virtual void set_logical(Mex_array* a, std::size_t k, bool value) = 0;
  // mxIsCell; mxGetCell(a, k): element k (column-major) of a cell array (is_cell),
  // k below get_number_of_elements(a); null when the element was never set.
  virtual bool is_cell(const Mex_array* a) const = 0;
  virtual const Mex_array* get_cell(const Mex_array* a, std::size_t k) const = 0;
  // mxGetNumberOfDimensions, mxGetDimensions: every dimension, at least two.
  virtual std::vector<std::size_t> get_dimensions(const Mex_array* a) const = 0;
  // mxCreateStructMatrix(m, n, count, names): a new m by n struct array, fields empty.
  virtual Mex_array* create_struct_array(std::size_t m, std::size_t n, const char* const* field_names,
                                         int count) = 0;
  // mxSetField(s, k, name, value): field of element k (column-major); s owns value afterwards.
  virtual void set_field_at(Mex_array* s, std::size_t k, const char* name, Mex_array* value) = 0;
  // mexPrintf("%s", text): to the host's console. Called on the host's thread only.
  virtual void print(const char* text) = 0;
  // True when the user asked the host to stop (Ctrl-C) and the host has not yet
  // acted on it; false when the host offers no way to tell. The entry returns
  // (or raises its error) soon after, and the host then handles the interrupt.
  virtual bool interrupt_pending() const = 0;
  // mexErrMsgIdAndTxt(id, "%s", text): raises the host error. `text` is plain text,
  // never a format. The real host does not return; a replacement may.
  virtual void err_msg_id_and_txt(const char* id, const char* text) = 0;
};

// Element (row, col) of a double array: index row + col * rows into its column-major
// data. Unchecked: the caller has validated the class and the sizes.
inline double mex_matrix_access(const Mex_host& host, const Mex_array* a, std::size_t row,
                                std::size_t col) {
  return host.get_pr(a)[row + col * host.get_m(a)];
}

// Writable form of the accessor above, for arrays the entry created itself.
inline double& mex_matrix_access(const Mex_host& host, Mex_array* a, std::size_t row,
                                 std::size_t col) {
  return host.get_pr(a)[row + col * host.get_m(a)];
}

// A new 1 by 1 double array holding v.
inline Mex_array* mex_scalar(Mex_host& host, double v) {
  Mex_array* a = host.create_double_matrix(1, 1);
  mex_matrix_access(host, a, 0, 0) = v;
  return a;
}

// A new 1 by n logical row of the flags.
inline Mex_array* mex_logical_row(Mex_host& host, const std::vector<unsigned char>& flags) {
  Mex_array* a = host.create_logical_matrix(1, flags.size());
  for (std::size_t k = 0; k < flags.size(); ++k) host.set_logical(a, k, flags[k] != 0);
  return a;
}

// A new n by n double array of a row-major square, or [] when row_major does not
// hold n * n values (no covariance, say).
inline Mex_array* mex_square_matrix(Mex_host& host, const std::vector<double>& row_major, std::size_t n) {
  if (row_major.size() != n * n) return host.create_double_matrix(0, 0);
  Mex_array* a = host.create_double_matrix(n, n);
  for (std::size_t r = 0; r < n; ++r)
    for (std::size_t c = 0; c < n; ++c) mex_matrix_access(host, a, r, c) = row_major[r * n + c];
  return a;
}

}  // namespace trel

#endif
