// The MEX host adapter: forwards the entry's host operations to the MEX API of
// Octave (mex.h from liboctave-dev) or MATLAB (mex.h of the MATLAB installation).
// Only mexFunction is exported from the module.

#include "mex.h"

#include <string>
#include <vector>

#include "camera_pose_refine/camera_pose_refine.h"

namespace {

// mxArray is an opaque struct in MATLAB and a typedef of void in Octave; going
// through void* converts between it and Mex_array in both.
const mxArray* to_mx(const trel::Mex_array* a) {
  return static_cast<const mxArray*>(static_cast<const void*>(a));
}

trel::Mex_array* to_trel(mxArray* a) { return static_cast<trel::Mex_array*>(static_cast<void*>(a)); }

class Mex_api_host : public trel::Mex_host {
public:
  // mxIsDouble is also true for complex and for sparse doubles, whose mxGetPr does not
  // hold m * n real values in column-major order (sparse arrays store only their
  // non-zeros). The entry reads exactly that many values, so only full real doubles
  // count as double here.
  bool is_double(const trel::Mex_array* a) const override {
    return mxIsDouble(to_mx(a)) && !mxIsComplex(to_mx(a)) && !mxIsSparse(to_mx(a));
  }
  std::size_t get_m(const trel::Mex_array* a) const override { return mxGetM(to_mx(a)); }
  std::size_t get_n(const trel::Mex_array* a) const override { return mxGetN(to_mx(a)); }
  std::size_t get_number_of_elements(const trel::Mex_array* a) const override {
    return mxGetNumberOfElements(to_mx(a));
  }
  double* get_pr(const trel::Mex_array* a) const override { return mxGetPr(to_mx(a)); }
  double get_scalar(const trel::Mex_array* a) const override { return mxGetScalar(to_mx(a)); }
  // Names the two kinds of double refused above, so that a message saying a double
  // was expected does not report "double" as what it got.
  const char* get_class_name(const trel::Mex_array* a) const override {
    if (mxIsDouble(to_mx(a)) && mxIsSparse(to_mx(a))) return "sparse double";
    if (mxIsDouble(to_mx(a)) && mxIsComplex(to_mx(a))) return "complex double";
    return mxGetClassName(to_mx(a));
  }
  trel::Mex_array* create_double_matrix(std::size_t m, std::size_t n) override {
    return to_trel(mxCreateDoubleMatrix(m, n, mxREAL));
  }
  trel::Mex_array* create_struct(const char* const* field_names, int count) override {
    return to_trel(mxCreateStructMatrix(1, 1, count, const_cast<const char**>(field_names)));
  }
  void set_field(trel::Mex_array* s, const char* name, trel::Mex_array* value) override {
    mxSetField(static_cast<mxArray*>(static_cast<void*>(s)), 0, name,
               static_cast<mxArray*>(static_cast<void*>(value)));
  }
  trel::Mex_array* create_string(const char* text) override { return to_trel(mxCreateString(text)); }
  bool is_struct(const trel::Mex_array* a) const override { return mxIsStruct(to_mx(a)); }
  bool is_char(const trel::Mex_array* a) const override { return mxIsChar(to_mx(a)); }
  bool is_logical(const trel::Mex_array* a) const override { return mxIsLogical(to_mx(a)); }
  int get_number_of_fields(const trel::Mex_array* s) const override { return mxGetNumberOfFields(to_mx(s)); }
  const char* get_field_name_by_number(const trel::Mex_array* s, int k) const override {
    return mxGetFieldNameByNumber(to_mx(s), k);
  }
  const trel::Mex_array* get_field(const trel::Mex_array* s, const char* name) const override {
    return to_trel(mxGetField(to_mx(s), 0, name));
  }
  std::string get_string(const trel::Mex_array* a) const override {
    char* text = mxArrayToString(to_mx(a));
    if (text == nullptr) return std::string();
    std::string copy(text);
    mxFree(text);
    return copy;
  }
  std::vector<bool> get_logicals(const trel::Mex_array* a) const override {
    const mxLogical* values = mxGetLogicals(to_mx(a));
    std::vector<bool> copy(mxGetNumberOfElements(to_mx(a)));
    for (std::size_t k = 0; k < copy.size() && values != nullptr; ++k) copy[k] = values[k] != 0;
    return copy;
  }
  trel::Mex_array* create_logical_matrix(std::size_t m, std::size_t n) override {
    return to_trel(mxCreateLogicalMatrix(m, n));
  }
  void set_logical(trel::Mex_array* a, std::size_t k, bool value) override {
    mxGetLogicals(static_cast<mxArray*>(static_cast<void*>(a)))[k] = value;
  }
  void err_msg_id_and_txt(const char* id, const char* text) override {
    mexErrMsgIdAndTxt(id, "%s", text);
  }
};

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  // The entry reads inputs only when nrhs is 3 to 7, so seven slots always suffice.
  const trel::Mex_array* inputs[7] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  for (int i = 0; i < nrhs && i < 7; ++i)
    inputs[i] = static_cast<const trel::Mex_array*>(static_cast<const void*>(prhs[i]));
  trel::Mex_array* outputs[2] = {nullptr, nullptr};

  Mex_api_host host;
  trel::camera_pose_refine_entry(host, nlhs, outputs, nrhs, inputs);

  // plhs always has room for one value: with nlhs 0 it becomes `ans`.
  for (int i = 0; i < 2 && i < (nlhs > 1 ? nlhs : 1); ++i)
    if (outputs[i] != nullptr) plhs[i] = static_cast<mxArray*>(static_cast<void*>(outputs[i]));
}
