// The MEX host adapter: forwards the entries' host operations to the MEX API of
// Octave (mex.h from liboctave-dev) or MATLAB (mex.h of the MATLAB installation).
// Shared by every plug-in module; each module's mexFunction is in its own file.

#include "mex.h"

#include <csignal>
#include <string>
#include <vector>

#include "camera_pose_refine/mex_api_host.h"

namespace {

// mxArray is an opaque struct in MATLAB and a typedef of void in Octave; going
// through void* converts between it and Mex_array in both.
const mxArray* to_mx(const trel::Mex_array* a) {
  return static_cast<const mxArray*>(static_cast<const void*>(a));
}

trel::Mex_array* to_trel(mxArray* a) { return static_cast<trel::Mex_array*>(static_cast<void*>(a)); }

}  // namespace

// Octave's own interrupt flags (liboctave, quit.h): a Ctrl-C sets
// octave_signal_caught, and octave_interrupt_state is positive while an
// interrupt is pending. The MEX API has no call that asks for them; declared
// weak, they are null in a host that does not define them (MATLAB), and no
// interrupt is then seen.
extern "C" {
extern volatile sig_atomic_t octave_signal_caught __attribute__((weak));
extern sig_atomic_t octave_interrupt_state __attribute__((weak));
}

namespace trel {

// mxIsDouble is also true for complex and for sparse doubles, whose mxGetPr does not
// hold m * n real values in column-major order (sparse arrays store only their
// non-zeros). The entries read exactly that many values, so only full real doubles
// count as double here.
bool Mex_api_host::is_double(const Mex_array* a) const {
  return mxIsDouble(to_mx(a)) && !mxIsComplex(to_mx(a)) && !mxIsSparse(to_mx(a));
}
std::size_t Mex_api_host::get_m(const Mex_array* a) const { return mxGetM(to_mx(a)); }
std::size_t Mex_api_host::get_n(const Mex_array* a) const { return mxGetN(to_mx(a)); }
std::size_t Mex_api_host::get_number_of_elements(const Mex_array* a) const {
  return mxGetNumberOfElements(to_mx(a));
}
double* Mex_api_host::get_pr(const Mex_array* a) const { return mxGetPr(to_mx(a)); }
double Mex_api_host::get_scalar(const Mex_array* a) const { return mxGetScalar(to_mx(a)); }
// Names the two kinds of double refused above, so that a message saying a double
// was expected does not report "double" as what it got.
const char* Mex_api_host::get_class_name(const Mex_array* a) const {
  if (mxIsDouble(to_mx(a)) && mxIsSparse(to_mx(a))) return "sparse double";
  if (mxIsDouble(to_mx(a)) && mxIsComplex(to_mx(a))) return "complex double";
  return mxGetClassName(to_mx(a));
}
Mex_array* Mex_api_host::create_double_matrix(std::size_t m, std::size_t n) {
  return to_trel(mxCreateDoubleMatrix(m, n, mxREAL));
}
Mex_array* Mex_api_host::create_struct(const char* const* field_names, int count) {
  return to_trel(mxCreateStructMatrix(1, 1, count, const_cast<const char**>(field_names)));
}
void Mex_api_host::set_field(Mex_array* s, const char* name, Mex_array* value) {
  mxSetField(static_cast<mxArray*>(static_cast<void*>(s)), 0, name, static_cast<mxArray*>(static_cast<void*>(value)));
}
Mex_array* Mex_api_host::create_string(const char* text) { return to_trel(mxCreateString(text)); }
bool Mex_api_host::is_struct(const Mex_array* a) const { return mxIsStruct(to_mx(a)); }
bool Mex_api_host::is_char(const Mex_array* a) const { return mxIsChar(to_mx(a)); }
bool Mex_api_host::is_logical(const Mex_array* a) const { return mxIsLogical(to_mx(a)); }
int Mex_api_host::get_number_of_fields(const Mex_array* s) const { return mxGetNumberOfFields(to_mx(s)); }
const char* Mex_api_host::get_field_name_by_number(const Mex_array* s, int k) const {
  return mxGetFieldNameByNumber(to_mx(s), k);
}
const Mex_array* Mex_api_host::get_field(const Mex_array* s, const char* name) const {
  return to_trel(mxGetField(to_mx(s), 0, name));
}
std::string Mex_api_host::get_string(const Mex_array* a) const {
  char* text = mxArrayToString(to_mx(a));
  if (text == nullptr) return std::string();
  std::string copy(text);
  mxFree(text);
  return copy;
}
std::vector<bool> Mex_api_host::get_logicals(const Mex_array* a) const {
  const mxLogical* values = mxGetLogicals(to_mx(a));
  std::vector<bool> copy(mxGetNumberOfElements(to_mx(a)));
  for (std::size_t k = 0; k < copy.size() && values != nullptr; ++k) copy[k] = values[k] != 0;
  return copy;
}
Mex_array* Mex_api_host::create_logical_matrix(std::size_t m, std::size_t n) {
  return to_trel(mxCreateLogicalMatrix(m, n));
}
void Mex_api_host::set_logical(Mex_array* a, std::size_t k, bool value) {
  mxGetLogicals(static_cast<mxArray*>(static_cast<void*>(a)))[k] = value;
}
bool Mex_api_host::is_cell(const Mex_array* a) const { return mxIsCell(to_mx(a)); }
const Mex_array* Mex_api_host::get_cell(const Mex_array* a, std::size_t k) const {
  return to_trel(mxGetCell(to_mx(a), k));
}
std::vector<std::size_t> Mex_api_host::get_dimensions(const Mex_array* a) const {
  const mwSize* dims = mxGetDimensions(to_mx(a));
  return std::vector<std::size_t>(dims, dims + mxGetNumberOfDimensions(to_mx(a)));
}
Mex_array* Mex_api_host::create_struct_array(std::size_t m, std::size_t n, const char* const* field_names,
                                             int count) {
  return to_trel(mxCreateStructMatrix(m, n, count, const_cast<const char**>(field_names)));
}
void Mex_api_host::set_field_at(Mex_array* s, std::size_t k, const char* name, Mex_array* value) {
  mxSetField(static_cast<mxArray*>(static_cast<void*>(s)), k, name, static_cast<mxArray*>(static_cast<void*>(value)));
}
void Mex_api_host::print(const char* text) { mexPrintf("%s", text); }
bool Mex_api_host::interrupt_pending() const {
  return (&octave_signal_caught != nullptr && octave_signal_caught != 0) ||
         (&octave_interrupt_state != nullptr && octave_interrupt_state > 0);
}
void Mex_api_host::err_msg_id_and_txt(const char* id, const char* text) { mexErrMsgIdAndTxt(id, "%s", text); }

}  // namespace trel
