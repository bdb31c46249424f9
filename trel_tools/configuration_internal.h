#ifndef TREL_TOOLS_CONFIGURATION_INTERNAL_H
#define TREL_TOOLS_CONFIGURATION_INTERNAL_H

// What the pieces of the configuration share: the catalogue row with its
// builders, the parsers of the structured parameters, and the number and text
// helpers of the assignments. Not part of the library's interface: included by
// trel_tools/configuration*.cpp only.

#include <climits>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>

#include "trel_tools/configuration.h"

namespace trel {
namespace configuration_detail {

constexpr double kUnbounded = std::numeric_limits<double>::infinity();

inline bool starts_with(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// atoi's reading (leading whitespace, optional sign, digits up to the first
// other character, 0 when there are none), but a number beyond the int range
// saturates instead of wrapping round into an unrelated value.
inline int text_to_int(const std::string& text) {
  const long long number = std::strtoll(text.c_str(), nullptr, 10);
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return static_cast<int>(number);
}

inline double text_to_double(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

inline bool is_one_of(const std::string& value, const char* const* words) {
  for (; *words; ++words)
    if (value == *words) return true;
  return false;
}

// A fault in a value that ends the assignment with an exception_l from set_param.
struct value_error {
  std::string detail;
};

}  // namespace configuration_detail

// One catalogue entry: the parameter's name, kind and default, what a repeated
// assignment does, which values are accepted and what is printed otherwise.
// Rows are written with the builders below, e.g.
//   integer("trees", -1).accept(at_least(1)).warn("WARNING: Number of trees less than 1: ")
// A structured parameter (type param_special) names the member that parses its
// assignments; the parser creates the object together with its deleter.
struct configuration::catalogue_row {
  enum class repeat_rule { keep, take_new, none };
  enum class text_rule { none, one_of, dot_in_last_four, ends_with_txt };

  const char* name = nullptr;
  int type = param_int;
  cell default_value;
  repeat_rule repeat = repeat_rule::keep;
  const char* repeat_warning = nullptr;  // null: "WARNING: <name> parameter encountered multiple times..."
  bool assignable = true;

  // The warning of a refused value; the value (or the converted number) follows
  // it. Null on a boolean means "WARNING: <name> parameter not 1,0,true or false: ".
  const char* warning = nullptr;
  bool quote_value = false;
  bool show_number = false;

  text_rule text_check = text_rule::none;
  const char* const* words = nullptr;
  bool store_anyway = false;              // the warning is printed, the text stored all the same
  const char* second_line = nullptr;      // a further warning line

  // Accepted numbers: low <= x (low < x when low_open), likewise for high.
  double low = -configuration_detail::kUnbounded;
  bool low_open = false;
  double high = configuration_detail::kUnbounded;
  bool high_open = false;
  bool odd_only = false;
  const char* high_warning = nullptr;     // null: `warning`
  const char* odd_warning = nullptr;

  using handler_type = void (*)(configuration& self, const catalogue_row& row, parameter& record,
                                const std::string& value);
  handler_type handler = nullptr;   // parses one assignment of a structured parameter

  struct range {
    double low, high;
    bool low_open, high_open;
  };
  static range at_least(double x) { return {x, configuration_detail::kUnbounded, false, false}; }
  static range greater_than(double x) { return {x, configuration_detail::kUnbounded, true, false}; }
  static range less_than(double x) { return {-configuration_detail::kUnbounded, x, false, true}; }
  static range from_to(double a, double b) { return {a, b, false, false}; }
  static range strictly_between(double a, double b) { return {a, b, true, true}; }

  static catalogue_row make(const char* name, int type, cell default_value) {
    catalogue_row row;
    row.name = name;
    row.type = type;
    row.default_value = std::move(default_value);
    return row;
  }
  static catalogue_row flag(const char* name, bool default_value = false) {
    catalogue_row row = make(name, param_bool, default_value);
    row.quote_value = true;
    return row;
  }
  static catalogue_row text(const char* name, const char* default_value = "") {
    return make(name, param_string, std::string(default_value));
  }
  static catalogue_row integer(const char* name, int default_value) {
    return make(name, param_int, default_value);
  }
  static catalogue_row real(const char* name, double default_value) {
    return make(name, param_double, default_value);
  }
  // A structured parameter whose object is a T, created by `handler`; repeat
  // rule keep unless changed.
  template <class T>
  static catalogue_row object(const char* name, handler_type handler) {
    catalogue_row row = make(name, param_special, cell(structured(static_cast<T*>(nullptr))));
    row.handler = handler;
    return row;
  }
  // Every assignment is handed to the handler, which appends to the list.
  catalogue_row appends() const { return no_repeat_test(); }

  catalogue_row take_new() const { return with([](catalogue_row& r) { r.repeat = repeat_rule::take_new; }); }
  catalogue_row no_repeat_test() const { return with([](catalogue_row& r) { r.repeat = repeat_rule::none; }); }
  catalogue_row repeat_text(const char* text) const {
    return with([text](catalogue_row& r) {
      r.repeat = repeat_rule::take_new;
      r.repeat_warning = text;
    });
  }
  catalogue_row not_by_name() const { return with([](catalogue_row& r) { r.assignable = false; }); }
  catalogue_row warn(const char* text) const {
    return with([text](catalogue_row& r) {
      r.warning = text;
      r.quote_value = false;
    });
  }
  catalogue_row warn_quoted(const char* text) const {
    return with([text](catalogue_row& r) {
      r.warning = text;
      r.quote_value = true;
    });
  }
  catalogue_row warn_number(const char* text) const {
    return with([text](catalogue_row& r) {
      r.warning = text;
      r.show_number = true;
    });
  }
  catalogue_row then_line(const char* text) const { return with([text](catalogue_row& r) { r.second_line = text; }); }
  catalogue_row one_of(const char* const* words) const {
    return with([words](catalogue_row& r) {
      r.text_check = text_rule::one_of;
      r.words = words;
    });
  }
  catalogue_row dot_in_last_four_else_warn() const {
    return with([](catalogue_row& r) {
      r.text_check = text_rule::dot_in_last_four;
      r.store_anyway = true;
    });
  }
  catalogue_row ends_with_txt() const { return with([](catalogue_row& r) { r.text_check = text_rule::ends_with_txt; }); }
  catalogue_row accept(range accepted) const {
    return with([accepted](catalogue_row& r) {
      r.low = accepted.low;
      r.high = accepted.high;
      r.low_open = accepted.low_open;
      r.high_open = accepted.high_open;
    });
  }
  catalogue_row odd(const char* text) const {
    return with([text](catalogue_row& r) {
      r.odd_only = true;
      r.odd_warning = text;
    });
  }
  catalogue_row above(const char* text) const { return with([text](catalogue_row& r) { r.high_warning = text; }); }

  template <class Change>
  catalogue_row with(Change change) const {
    catalogue_row row = *this;
    change(row);
    return row;
  }

  // The warning for `number`, or null when it is accepted.
  const char* number_failure(double number) const {
    if (!warning) return nullptr;
    if (!(low_open ? number > low : number >= low)) return warning;
    if (!(high_open ? number < high : number <= high)) return high_warning ? high_warning : warning;
    if (odd_only && static_cast<long long>(number) % 2 == 0) return odd_warning;
    return nullptr;
  }

  bool text_accepted(const std::string& value) const {
    switch (text_check) {
      case text_rule::none:
        return true;
      case text_rule::one_of:
        return configuration_detail::is_one_of(value, words);
      case text_rule::dot_in_last_four:
        return value.size() >= 4 && value.find('.', value.size() - 4) != std::string::npos;
      case text_rule::ends_with_txt:
        return value.size() >= 4 && value.compare(value.size() - 4, 4, ".txt") == 0;
    }
    return false;
  }
};

// The parsers of the structured parameters, one per kind. Each receives an
// assignment that passed the repeat rule; an object is created only when a
// value is accepted, except for the camera keys, whose list the first line
// creates whether it is accepted or not.
struct configuration::structured_rules {
  using row = catalogue_row;

  // The camera keys.
  static void bumblebee_params(configuration& self, const row& r, parameter& record, const std::string& value);
  static void extrinsic_camera_params(configuration& self, const row& r, parameter& record, const std::string& value);
  static void extrinsic_camera_params_q(configuration& self, const row& r, parameter& record,
                                        const std::string& value);
  static void projection_offsets(configuration& self, const row& r, parameter& record, const std::string& value);
  // Instantiated for 12 (camera_proj_mats) and 16 (camera_space_transform).
  template <std::size_t count>
  static void matrix_entry(configuration& self, const row& r, parameter& record, const std::string& value);

  // Number and path lists. number_list is instantiated for double, float and int.
  template <class E>
  static void number_list(configuration& self, const row& r, parameter& record, const std::string& value);
  static void kernel_vals(configuration& self, const row& r, parameter& record, const std::string& value);
  static void path_list(configuration& self, const row& r, parameter& record, const std::string& value);
  static void mahalanobis_covariance(configuration& self, const row& r, parameter& record, const std::string& value);
  static void sequence_lengths(configuration& self, const row& r, parameter& record, const std::string& value);

  // Checked number lists: nothing is stored after a warning.
  static void model_size(configuration& self, const row& r, parameter& record, const std::string& value);
  static void model_pose_limits(configuration& self, const row& r, parameter& record, const std::string& value);
  static void scale_noise(configuration& self, const row& r, parameter& record, const std::string& value);
  static void classifier_detector_roi(configuration& self, const row& r, parameter& record, const std::string& value);
  static void classifier_detector_neighbours(configuration& self, const row& r, parameter& record,
                                             const std::string& value);

  // Records.
  static void closing_kernel(configuration& self, const row& r, parameter& record, const std::string& value);
  static void haar_setting(configuration& self, const row& r, parameter& record, const std::string& value);
  static void scale(configuration& self, const row& r, parameter& record, const std::string& value);
  static void stereo_setting(configuration& self, const row& r, parameter& record, const std::string& value);
  static void pixel_sizes(configuration& self, const row& r, parameter& record, const std::string& value);
  static void sample(configuration& self, const row& r, parameter& record, const std::string& value);
};

}  // namespace trel

#endif
