#ifndef CAMERA_POSE_REFINE_MEX_API_HOST_H
#define CAMERA_POSE_REFINE_MEX_API_HOST_H

// The host adapter of the MEX plug-ins: every operation of Mex_host forwarded to
// the MEX API of Octave (mex.h from liboctave-dev) or MATLAB (mex.h of the MATLAB
// installation). Implemented in mex_octave.cpp; each plug-in's mexFunction lives
// in its own mex_<function>.cpp and hands the host's arrays to its entry.

#include <cstddef>
#include <string>
#include <vector>

#include "camera_pose_refine/mex_host_interface.h"

namespace trel {

class Mex_api_host : public Mex_host {
public:
  bool is_double(const Mex_array* a) const override;
  std::size_t get_m(const Mex_array* a) const override;
  std::size_t get_n(const Mex_array* a) const override;
  std::size_t get_number_of_elements(const Mex_array* a) const override;
  double* get_pr(const Mex_array* a) const override;
  double get_scalar(const Mex_array* a) const override;
  const char* get_class_name(const Mex_array* a) const override;
  Mex_array* create_double_matrix(std::size_t m, std::size_t n) override;
  Mex_array* create_struct(const char* const* field_names, int count) override;
  void set_field(Mex_array* s, const char* name, Mex_array* value) override;
  Mex_array* create_string(const char* text) override;
  bool is_struct(const Mex_array* a) const override;
  bool is_char(const Mex_array* a) const override;
  bool is_logical(const Mex_array* a) const override;
  int get_number_of_fields(const Mex_array* s) const override;
  const char* get_field_name_by_number(const Mex_array* s, int k) const override;
  const Mex_array* get_field(const Mex_array* s, const char* name) const override;
  std::string get_string(const Mex_array* a) const override;
  std::vector<bool> get_logicals(const Mex_array* a) const override;
  Mex_array* create_logical_matrix(std::size_t m, std::size_t n) override;
  void set_logical(Mex_array* a, std::size_t k, bool value) override;
  bool is_cell(const Mex_array* a) const override;
  const Mex_array* get_cell(const Mex_array* a, std::size_t k) const override;
  std::vector<std::size_t> get_dimensions(const Mex_array* a) const override;
  Mex_array* create_struct_array(std::size_t m, std::size_t n, const char* const* field_names, int count) override;
  void set_field_at(Mex_array* s, std::size_t k, const char* name, Mex_array* value) override;
  void print(const char* text) override;
  bool interrupt_pending() const override;
  void err_msg_id_and_txt(const char* id, const char* text) override;
};

// The signature every entry has: plhs holds at least max(nlhs, 1) slots.
using Mex_entry = void (*)(Mex_host& host, int nlhs, Mex_array* plhs[], int nrhs, const Mex_array* const prhs[]);

// Runs one entry with the host's arrays (Host_array is mxArray): at most
// MaxInputs inputs are handed over, which suffices since an entry reads none
// beyond its own count check, and at most MaxOutputs outputs are collected.
// Nothing here owns memory: the host's error call may jump out of the entry.
template <int MaxInputs, int MaxOutputs, typename Host_array>
void run_mex_entry(Mex_entry entry, int nlhs, Host_array* plhs[], int nrhs, const Host_array* prhs[]) {
  const Mex_array* inputs[MaxInputs] = {};
  for (int i = 0; i < nrhs && i < MaxInputs; ++i)
    inputs[i] = static_cast<const Mex_array*>(static_cast<const void*>(prhs[i]));
  Mex_array* outputs[MaxOutputs] = {};

  Mex_api_host host;
  entry(host, nlhs, outputs, nrhs, inputs);

  // plhs always has room for one value: with nlhs 0 it becomes `ans`.
  for (int i = 0; i < MaxOutputs && i < (nlhs > 1 ? nlhs : 1); ++i)
    if (outputs[i] != nullptr) plhs[i] = static_cast<Host_array*>(static_cast<void*>(outputs[i]));
}

}  // namespace trel

#endif
