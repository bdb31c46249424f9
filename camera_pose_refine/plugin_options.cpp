#include "camera_pose_refine/plugin_options.h"

#include <cmath>
#include <sstream>

#include "trel_opt/robust_loss.h"


namespace trel {

const Mex_options::Value* Mex_options::find(const std::string& name) const {
  for (const Value& v : values)
    if (v.name == name) return &v;
  return nullptr;
}

bool Mex_options::has(const std::string& name) const { return find(name) != nullptr; }

std::string Mex_options::text(const std::string& name, const std::string& otherwise) const {
  const Value* v = find(name);
  return v != nullptr ? v->text : otherwise;
}

double Mex_options::number(const std::string& name, double otherwise) const {
  const Value* v = find(name);
  return v != nullptr ? v->number : otherwise;
}

bool Mex_options::flag(const std::string& name, bool otherwise) const {
  const Value* v = find(name);
  return v != nullptr ? v->number != 0.0 : otherwise;
}

std::vector<double> Mex_options::vector(const std::string& name) const {
  const Value* v = find(name);
  return v != nullptr ? v->values : std::vector<double>();
}

namespace {

// What a field of this kind should be, as the messages say it.
std::string expected_text(const Mex_option_field& field) {
  switch (field.kind) {
    case Mex_option_kind::text: {
      if (field.choices.empty()) return "a character row";
      std::string out = "one of ";
      for (std::size_t k = 0; k < field.choices.size(); ++k)
        out += (k == 0 ? "'" : ", '") + field.choices[k] + "'";
      return out;
    }
    case Mex_option_kind::number:
      return "a finite number";
    case Mex_option_kind::positive_number:
      return "a finite positive number";
    case Mex_option_kind::non_negative_number:
      return "a finite number, 0 or more";
    case Mex_option_kind::flag:
      return "true or false (a logical scalar, or 0 or 1)";
    case Mex_option_kind::scalar:
      return "a real double scalar";
    case Mex_option_kind::vector:
      return "a real double vector";
  }
  return "";
}

std::string names_of(const std::vector<Mex_option_field>& fields) {
  std::string out;
  for (std::size_t k = 0; k < fields.size(); ++k) out += (k == 0 ? "" : ", ") + fields[k].name;
  return out;
}

bool is_scalar(const Mex_host& host, const Mex_array* a) { return host.get_m(a) == 1 && host.get_n(a) == 1; }

bool in_range(Mex_option_kind kind, double v) {
  if (kind == Mex_option_kind::scalar) return true;
  if (!std::isfinite(v)) return false;
  if (kind == Mex_option_kind::positive_number) return v > 0.0;
  if (kind == Mex_option_kind::non_negative_number) return v >= 0.0;
  return true;
}

// Converts one field's value; the reason, naming the field, when it does not fit.
std::string read_value(const Mex_host& host, const Mex_array* a, int input, const Mex_option_field& field,
                       Mex_options::Value& value) {
  std::stringstream refusal;
  refusal << "Input " << input << " field '" << field.name << "' should be " << expected_text(field)
          << ", instead got ";
  // Class and size first; the data is read only after them.
  bool fits = false;
  switch (field.kind) {
    case Mex_option_kind::text:
      fits = host.is_char(a) && (host.get_m(a) == 1 || host.get_number_of_elements(a) == 0);
      break;
    case Mex_option_kind::flag:
      fits = (host.is_logical(a) || host.is_double(a)) && is_scalar(host, a);
      break;
    case Mex_option_kind::vector:
      fits = host.is_double(a) && (host.get_m(a) == 1 || host.get_n(a) == 1 || host.get_number_of_elements(a) == 0);
      break;
    default:
      fits = host.is_double(a) && is_scalar(host, a);
      break;
  }
  if (!fits) {
    refusal << host.get_m(a) << " by " << host.get_n(a) << " of " << host.get_class_name(a);
    return refusal.str();
  }

  if (field.kind == Mex_option_kind::text) {
    value.text = host.get_string(a);
    bool chosen = field.choices.empty();
    for (const std::string& choice : field.choices) chosen = chosen || choice == value.text;
    if (!chosen) {
      refusal << "'" << value.text << "'";
      return refusal.str();
    }
  } else if (field.kind == Mex_option_kind::vector) {
    const std::size_t count = host.get_number_of_elements(a);
    const double* data = host.get_pr(a);
    if (count > 0) value.values.assign(data, data + count);
  } else if (host.is_logical(a)) {
    const std::vector<bool> flags = host.get_logicals(a);
    value.number = !flags.empty() && flags[0] ? 1.0 : 0.0;
  } else {
    value.number = mex_matrix_access(host, a, 0, 0);
    const bool ok = field.kind == Mex_option_kind::flag ? value.number == 0.0 || value.number == 1.0
                                                        : in_range(field.kind, value.number);
    if (!ok) {
      refusal << value.number;
      return refusal.str();
    }
  }
  return std::string();
}

}  // namespace

Mex_options read_mex_options(const Mex_host& host, const Mex_array* a, int input,
                             const std::vector<Mex_option_field>& fields) {
  Mex_options options;
  std::stringstream refusal;
  refusal << "Input " << input;
  if (!host.is_struct(a) || !is_scalar(host, a)) {
    refusal << " should be a 1 by 1 struct of options, instead got " << host.get_m(a) << " by " << host.get_n(a)
            << " of " << host.get_class_name(a);
    options.refusal = refusal.str();
    return options;
  }
  const int count = host.get_number_of_fields(a);
  for (int k = 0; k < count; ++k) {
    const char* raw_name = host.get_field_name_by_number(a, k);
    const std::string name = raw_name != nullptr ? raw_name : "";
    const Mex_option_field* field = nullptr;
    for (const Mex_option_field& f : fields)
      if (f.name == name) field = &f;
    if (field == nullptr) {
      refusal << " field '" << name << "' is not an option; the options are: " << names_of(fields);
      options.refusal = refusal.str();
      break;
    }
    const Mex_array* given = host.get_field(a, name.c_str());
    if (given == nullptr) continue;  // never set: as if absent
    Mex_options::Value value;
    value.name = name;
    options.refusal = read_value(host, given, input, *field, value);
    if (!options.refusal.empty()) break;
    options.values.push_back(value);
  }
  if (!options.refusal.empty()) options.values.clear();
  return options;
}

std::vector<std::string> loss_choices() {
  std::vector<std::string> names;
  for (int k = 0; k <= static_cast<int>(Loss::truncated); ++k) names.push_back(loss_name(static_cast<Loss>(k)));
  return names;
}

// The coefficients' count and values are judged by make_lens_distortion.
std::vector<Mex_option_field> lens_option_fields() {
  return {{"distortion", Mex_option_kind::vector, {}}, {"fisheye", Mex_option_kind::flag, {}}};
}

Entry_lens lens_from(const Mex_options& read) {
  Entry_lens lens;
  lens.distortion = read.vector("distortion");
  lens.fisheye = read.flag("fisheye", false);
  return lens;
}

Camera_model entry_camera(const matrix<double>& K, const Entry_lens& lens) {
  return make_camera_model(K, lens.distortion, lens.fisheye);
}

}  // namespace trel
