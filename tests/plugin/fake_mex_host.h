#ifndef TESTS_PLUGIN_FAKE_MEX_HOST_H
#define TESTS_PLUGIN_FAKE_MEX_HOST_H

// An in-memory stand-in for the MEX host: arrays of any class and size, column-major
// data, and a record of every error raised. Its error call returns, as a replacement
// host may; the entry must then return without an output.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "camera_pose_refine/mex_host_interface.h"

namespace trel {
namespace testing {

struct Fake_array {
  std::string class_name = "double";
  std::size_t m = 0;
  std::size_t n = 0;
  std::vector<double> data;  // column-major, m * n values when the class is double
  std::string text;          // class "char"
  std::vector<bool> logicals;  // class "logical", m * n values, column-major
  std::vector<std::pair<std::string, const Mex_array*>> fields;  // class "struct", in order
  // class "struct" made by create_struct_array: the fields of each element
  std::vector<std::vector<std::pair<std::string, const Mex_array*>>> elements;
  std::vector<const Mex_array*> cells;  // class "cell", m * n elements, column-major
  std::vector<std::size_t> dims;        // all dimensions when more than two; empty: m by n
};

class Fake_mex_host : public Mex_host {
public:
  struct Error {
    std::string id;
    std::string text;
  };

  // A double array; `column_major` must hold m * n values.
  const Mex_array* matrix(std::size_t m, std::size_t n, const std::vector<double>& column_major) {
    auto a = std::make_unique<Fake_array>();
    a->m = m;
    a->n = n;
    a->data = column_major;
    return keep(std::move(a));
  }
  const Mex_array* row(const std::vector<double>& values) { return matrix(1, values.size(), values); }
  const Mex_array* column(const std::vector<double>& values) {
    return matrix(values.size(), 1, values);
  }
  const Mex_array* scalar(double v) { return matrix(1, 1, {v}); }
  // An array of another class: sizes only, no readable data.
  const Mex_array* other_class(const std::string& class_name, std::size_t m, std::size_t n) {
    auto a = std::make_unique<Fake_array>();
    a->class_name = class_name;
    a->m = m;
    a->n = n;
    return keep(std::move(a));
  }

  // A character row.
  const Mex_array* text(const std::string& characters) {
    auto a = std::make_unique<Fake_array>();
    a->class_name = "char";
    a->m = characters.empty() ? 0 : 1;
    a->n = characters.size();
    a->text = characters;
    return keep(std::move(a));
  }
  const Mex_array* logical(std::size_t m, std::size_t n, const std::vector<bool>& column_major) {
    auto a = std::make_unique<Fake_array>();
    a->class_name = "logical";
    a->m = m;
    a->n = n;
    a->logicals = column_major;
    return keep(std::move(a));
  }
  // A 1 by 1 struct with these fields, in order (a null value: the field was never set).
  const Mex_array* structure(const std::vector<std::pair<std::string, const Mex_array*>>& fields) {
    auto a = std::make_unique<Fake_array>();
    a->class_name = "struct";
    a->m = a->n = 1;
    a->fields = fields;
    return keep(std::move(a));
  }

  static const Fake_array& array(const Mex_array* a) {
    return *reinterpret_cast<const Fake_array*>(a);
  }

  bool is_double(const Mex_array* a) const override { return array(a).class_name == "double"; }
  std::size_t get_m(const Mex_array* a) const override { return array(a).m; }
  std::size_t get_n(const Mex_array* a) const override { return array(a).n; }
  std::size_t get_number_of_elements(const Mex_array* a) const override {
    return array(a).m * array(a).n;
  }
  double* get_pr(const Mex_array* a) const override {
    auto& data = const_cast<Fake_array&>(array(a)).data;
    return data.empty() ? nullptr : data.data();
  }
  double get_scalar(const Mex_array* a) const override {
    return array(a).data.empty() ? 0.0 : array(a).data[0];
  }
  const char* get_class_name(const Mex_array* a) const override {
    return array(a).class_name.c_str();
  }
  Mex_array* create_double_matrix(std::size_t m, std::size_t n) override {
    auto a = std::make_unique<Fake_array>();
    a->m = m;
    a->n = n;
    a->data.assign(m * n, 0.0);
    ++created;
    return const_cast<Mex_array*>(keep(std::move(a)));
  }
  Mex_array* create_struct(const char* const* field_names, int count) override {
    auto a = std::make_unique<Fake_array>();
    a->class_name = "struct";
    a->m = a->n = 1;
    for (int i = 0; i < count; ++i) a->fields.emplace_back(field_names[i], nullptr);
    ++created;
    return const_cast<Mex_array*>(keep(std::move(a)));
  }
  void set_field(Mex_array* s, const char* name, Mex_array* value) override {
    for (auto& field : const_cast<Fake_array&>(array(s)).fields)
      if (field.first == name) field.second = value;
  }
  Mex_array* create_string(const char* text) override {
    auto a = std::make_unique<Fake_array>();
    a->class_name = "char";
    a->m = 1;
    a->text = text;
    a->n = a->text.size();
    ++created;
    return const_cast<Mex_array*>(keep(std::move(a)));
  }
  // The value of a struct's field, null when there is none.
  static const Fake_array* field(const Mex_array* s, const std::string& name) {
    for (const auto& f : array(s).fields)
      if (f.first == name && f.second != nullptr) return &array(f.second);
    return nullptr;
  }
  bool is_struct(const Mex_array* a) const override { return array(a).class_name == "struct"; }
  bool is_char(const Mex_array* a) const override { return array(a).class_name == "char"; }
  bool is_logical(const Mex_array* a) const override { return array(a).class_name == "logical"; }
  int get_number_of_fields(const Mex_array* s) const override { return static_cast<int>(array(s).fields.size()); }
  const char* get_field_name_by_number(const Mex_array* s, int k) const override {
    return array(s).fields.at(static_cast<std::size_t>(k)).first.c_str();
  }
  const Mex_array* get_field(const Mex_array* s, const char* name) const override {
    for (const auto& f : array(s).fields)
      if (f.first == name) return f.second;
    return nullptr;
  }
  std::string get_string(const Mex_array* a) const override { return array(a).text; }
  std::vector<bool> get_logicals(const Mex_array* a) const override { return array(a).logicals; }
  Mex_array* create_logical_matrix(std::size_t m, std::size_t n) override {
    auto a = std::make_unique<Fake_array>();
    a->class_name = "logical";
    a->m = m;
    a->n = n;
    a->logicals.assign(m * n, false);
    ++created;
    return const_cast<Mex_array*>(keep(std::move(a)));
  }
  void set_logical(Mex_array* a, std::size_t k, bool value) override {
    const_cast<Fake_array&>(array(a)).logicals.at(k) = value;
  }
  // A cell array of these elements (a null element: never set), column-major.
  const Mex_array* cell(std::size_t m, std::size_t n, const std::vector<const Mex_array*>& elements) {
    auto a = std::make_unique<Fake_array>();
    a->class_name = "cell";
    a->m = m;
    a->n = n;
    a->cells = elements;
    return keep(std::move(a));
  }
  // A double array of any dimensions (at least two), column-major.
  const Mex_array* array_nd(const std::vector<std::size_t>& dims, const std::vector<double>& column_major) {
    auto a = std::make_unique<Fake_array>();
    a->m = dims.at(0);
    a->n = 1;
    for (std::size_t d = 1; d < dims.size(); ++d) a->n *= dims[d];
    a->dims = dims;
    a->data = column_major;
    return keep(std::move(a));
  }
  bool is_cell(const Mex_array* a) const override { return array(a).class_name == "cell"; }
  const Mex_array* get_cell(const Mex_array* a, std::size_t k) const override { return array(a).cells.at(k); }
  std::vector<std::size_t> get_dimensions(const Mex_array* a) const override {
    if (!array(a).dims.empty()) return array(a).dims;
    return {array(a).m, array(a).n};
  }
  Mex_array* create_struct_array(std::size_t m, std::size_t n, const char* const* field_names, int count) override {
    auto a = std::make_unique<Fake_array>();
    a->class_name = "struct";
    a->m = m;
    a->n = n;
    for (int i = 0; i < count; ++i) a->fields.emplace_back(field_names[i], nullptr);
    a->elements.assign(m * n, a->fields);
    ++created;
    return const_cast<Mex_array*>(keep(std::move(a)));
  }
  void set_field_at(Mex_array* s, std::size_t k, const char* name, Mex_array* value) override {
    for (auto& field : const_cast<Fake_array&>(array(s)).elements.at(k))
      if (field.first == name) field.second = value;
  }
  // The value of field `name` of element k of a struct array, null when there is none.
  static const Fake_array* field_at(const Mex_array* s, std::size_t k, const std::string& name) {
    for (const auto& f : array(s).elements.at(k))
      if (f.first == name && f.second != nullptr) return &array(f.second);
    return nullptr;
  }
  void print(const char* text) override { printed += text; }
  bool interrupt_pending() const override { return interrupt; }
  void err_msg_id_and_txt(const char* id, const char* text) override {
    errors.push_back({id, text});
  }

  std::vector<Error> errors;
  int created = 0;
  std::string printed;     // everything print() was given
  bool interrupt = false;  // what interrupt_pending() answers

private:
  const Mex_array* keep(std::unique_ptr<Fake_array> a) {
    arrays_.push_back(std::move(a));
    return reinterpret_cast<const Mex_array*>(arrays_.back().get());
  }

  std::vector<std::unique_ptr<Fake_array>> arrays_;
};

}  // namespace testing
}  // namespace trel

#endif
