#include "trel_tools/configuration.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <system_error>
#include <tuple>
#include <type_traits>
#include <utility>

#if defined(__GNUG__)
#  include <cxxabi.h>
#endif

#include <opencv2/imgproc/imgproc_c.h>

#include "trel_tools/exception_l.h"

namespace trel {

namespace {

constexpr double unbounded = std::numeric_limits<double>::infinity();

bool starts_with(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// atoi's reading (leading whitespace, optional sign, digits up to the first
// other character, 0 when there are none), but a number beyond the int range
// saturates instead of wrapping round into an unrelated value.
int text_to_int(const std::string& text) {
  const long long number = std::strtoll(text.c_str(), nullptr, 10);
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return static_cast<int>(number);
}

double text_to_double(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// The first whitespace-delimited token of a line; the line feed is already gone,
// so a carriage return before it counts as whitespace like any other.
std::string first_token(const std::string& line) {
  static const char* const whitespace = " \t\r\v\f";
  const std::string::size_type begin = line.find_first_not_of(whitespace);
  if (begin == std::string::npos) return std::string();
  const std::string::size_type end = line.find_first_of(whitespace, begin);
  return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// Opens `path` for reading; a directory counts as a file that cannot be opened.
bool open_for_reading(std::ifstream& file, const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return false;
  file.open(path, std::ios::in | std::ios::binary);
  return file.is_open();
}

// The identity of a file on the chain of files being read.
std::string file_identity(const std::string& path) {
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::canonical(path, error);
  return error ? path : canonical.string();
}

const char* const mode_words[] = {"train", "test", "crossvalidate", "live", "pss", "model_builder",
                                  "model_viewer", "model_recognition", "scene_flow_demo",
                                  "scene_flow_viewer", "trajectory_viewer", "scene_flow_ml_train",
                                  "colour_constancy_eval", "cc_noise_eval", "cc_full_eval", nullptr};
const char* const feature_words[] = {"lbp", "hog", "hof", "hos", nullptr};
const char* const classifier_words[] = {"rdf", "nn", "svm", "gp", nullptr};
const char* const tracker_words[] = {"particle_filter", "kalman_filter", nullptr};
const char* const fitness_words[] = {"fitness_interpolator",
                                     "fitness_function_brightness_consistency",
                                     "fitness_function_patch_ssd",
                                     "fitness_function_learned_bc",
                                     "ff_linear_bc",
                                     "ff_gc",
                                     "ff_linear_gc",
                                     "ff_ofc",
                                     "fitness_function_learned_bc_inverse",
                                     "fitness_function_brightness_consistency_inverse",
                                     nullptr};
const char* const peak_extractor_words[] = {"mean", "median", "meanshift", nullptr};
const char* const cc_eval_words[] = {"clean", "noisy", "outlier", nullptr};

bool is_one_of(const std::string& value, const char* const* words) {
  for (; *words; ++words)
    if (value == *words) return true;
  return false;
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (std::string::size_type at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// A type's name as written in code: demangled where the compiler mangles, and
// without the default allocator and character-traits arguments of the
// standard containers ("std::vector<std::vector<double>>*").
std::string type_name(const std::type_info& type) {
  std::string name = type.name();
#if defined(__GNUG__)
  int status = 0;
  char* demangled = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
  if (status == 0 && demangled) name = demangled;
  std::free(demangled);
#endif
  for (std::string::size_type at; (at = name.find(", std::allocator<")) != std::string::npos;) {
    std::string::size_type end = at + 17;
    for (int depth = 1; end < name.size() && depth > 0; ++end) {
      if (name[end] == '<') ++depth;
      if (name[end] == '>') --depth;
    }
    name.erase(at, end - at);
  }
  replace_all(name, " >", ">");
  replace_all(name, "std::__cxx11::", "std::");
  replace_all(name, "std::basic_string<char, std::char_traits<char>>", "std::string");
  replace_all(name, "_IplConvKernel", "IplConvKernel");
  return name;
}

// A fault in a value that ends the assignment with an exception_l from set_param.
struct value_error {
  std::string detail;
};

template <class T>
void delete_object(void* object) {
  delete static_cast<T*>(object);
}

void release_kernel(void* object) {
  IplConvKernel* kernel = static_cast<IplConvKernel*>(object);
  cvReleaseStructuringElement(&kernel);
}

// Every field of `value` between '|' separators; an empty value is one empty field.
std::vector<std::string> split_all(const std::string& value) {
  std::vector<std::string> fields;
  std::string::size_type begin = 0;
  for (std::string::size_type bar; (bar = value.find('|', begin)) != std::string::npos; begin = bar + 1)
    fields.push_back(value.substr(begin, bar - begin));
  fields.push_back(value.substr(begin));
  return fields;
}

// `count` fields: the first count - 1 each end at the next '|', the last runs
// to the end of the value (further bars included). False when a separator is
// missing.
bool split_fields(const std::string& value, std::size_t count, std::vector<std::string>& fields) {
  fields.clear();
  std::string::size_type begin = 0;
  for (std::size_t i = 0; i + 1 < count; ++i) {
    const std::string::size_type bar = value.find('|', begin);
    if (bar == std::string::npos) return false;
    fields.push_back(value.substr(begin, bar - begin));
    begin = bar + 1;
  }
  fields.push_back(value.substr(begin));
  return true;
}

// "WARNING: Format incorrect, <what> should be entered as "<syntax>", entered
// value was: "<value>"", the camera keys' form with the rotation note.
void format_warning(const char* what, const char* syntax, const std::string& value, bool rotation_note = false) {
  std::cerr << "WARNING: Format incorrect, " << what << " should be entered as \"" << syntax << "\""
            << (rotation_note ? " (where clockwise camera rotations are positive)" : "") << ", entered value was: \""
            << value << "\"" << std::endl;
}

// The fields of `value`, as many as `syntax` names (split as by split_fields),
// or false after the format warning for `what`.
bool fields_as_in(const char* syntax, const std::string& value, std::vector<std::string>& fields, const char* what,
                  bool rotation_note = false) {
  const std::string names(syntax);
  if (split_fields(value, std::count(names.begin(), names.end(), '|') + 1, fields)) return true;
  format_warning(what, syntax, value, rotation_note);
  return false;
}

}  // namespace

// One catalogue entry: the parameter's name, kind and default, what a repeated
// assignment does, which values are accepted and what is printed otherwise.
// Rows are written with the builders below, e.g.
//   integer("trees", -1).accept(at_least(1)).warn("WARNING: Number of trees less than 1: ")
// A structured parameter (type param_special) names the member that parses its
// assignments and the function that deletes its object.
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
  double low = -unbounded;
  bool low_open = false;
  double high = unbounded;
  bool high_open = false;
  bool odd_only = false;
  const char* high_warning = nullptr;     // null: `warning`
  const char* odd_warning = nullptr;

  using handler_type = void (*)(configuration& self, const catalogue_row& row, parameter& record,
                                const std::string& value);
  handler_type handler = nullptr;   // parses one assignment of a structured parameter
  void (*release)(void* object) = nullptr;

  struct range {
    double low, high;
    bool low_open, high_open;
  };
  static range at_least(double x) { return {x, unbounded, false, false}; }
  static range greater_than(double x) { return {x, unbounded, true, false}; }
  static range less_than(double x) { return {-unbounded, x, false, true}; }
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
  // A structured parameter whose object is a T, created by `handler` and
  // deleted by `release`; repeat rule keep unless changed.
  template <class T>
  static catalogue_row object(const char* name, handler_type handler, void (*release)(void*) = &delete_object<T>) {
    catalogue_row row = make(name, param_special, cell(structured(static_cast<T*>(nullptr))));
    row.handler = handler;
    row.release = release;
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
        return is_one_of(value, words);
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

  template <class T>
  static T* object(const parameter& record) {
    return static_cast<T*>(std::get<structured>(record.value).get());
  }
  // The record's object, created empty when it does not exist yet.
  template <class T>
  static T& created(parameter& record) {
    if (!object<T>(record)) record.value = structured(new T());
    return *object<T>(record);
  }

  // ---- camera keys

  static std::vector<double>& new_camera_entry(parameter& record) {
    camera_list& cameras = created<camera_list>(record);
    cameras.emplace_back();
    return cameras.back();
  }

  static void bumblebee_params(configuration&, const row&, parameter& record, const std::string& value) {
    std::vector<double>& entry = new_camera_entry(record);
    std::vector<std::string> fields;
    if (!fields_as_in("x_centre|y_centre|x_focal_length_in_pixels|y_focal_length_in_pixels|image_width|"
                      "image_height|baseline",
                      value, fields, "samples"))
      return;
    const char* const centre_warnings[] = {"WARNING: x centre not between 0 and 1 : ",
                                           "WARNING: y centre not between 0 and 1 : "};
    for (int i = 0; i < 2; ++i) {
      const double centre = text_to_double(fields[i]);
      entry.push_back(centre);
      if (!(centre >= 0 && centre <= 1)) {
        std::cerr << centre_warnings[i] << centre << std::endl;
        return;
      }
    }
    entry.push_back(text_to_double(fields[2]));
    entry.push_back(text_to_double(fields[3]));
    entry.push_back(text_to_int(fields[4]));
    entry.push_back(text_to_int(fields[5]));
    entry.push_back(text_to_double(fields[6]));
  }

  static void extrinsic_entry(parameter& record, const std::string& value, const char* what, const char* syntax) {
    std::vector<double>& entry = new_camera_entry(record);
    std::vector<std::string> fields;
    if (!fields_as_in(syntax, value, fields, what, true)) return;
    for (const std::string& field : fields) entry.push_back(text_to_double(field));
  }

  static void extrinsic_camera_params(configuration&, const row&, parameter& record, const std::string& value) {
    extrinsic_entry(record, value, "extrinsice camera parameters",
                    "euler_z(roll)|euler_x(pitch)|euler_y(yaw)|x_offset|y_offset|z_offset");
  }

  static void extrinsic_camera_params_q(configuration&, const row&, parameter& record, const std::string& value) {
    extrinsic_entry(record, value, "extrinsice camera parameters (quaternion)",
                    "quat_x|quat_y|quat_z|quat_w|x_offset|y_offset|z_offset");
  }

  // A value without '|' still takes its index, with an empty entry, before it
  // throws: a client that catches and goes on keeps every later line on its own
  // camera, and Camera::init reports the empty entry for this one.
  static void projection_offsets(configuration&, const row&, parameter& record, const std::string& value) {
    std::vector<double>& entry = new_camera_entry(record);
    const std::string::size_type bar = value.find('|');
    if (bar == std::string::npos)
      throw value_error{"Format incorrect, projection_offsets should be entered as \"x_offset|y_offset\". Entered "
                        "value was: \"" +
                        value + "\""};
    entry = {text_to_double(value.substr(0, bar)), text_to_double(value.substr(bar + 1))};
  }

  // A matrix entry of exactly `count` values, or a warning and no entry. The
  // list exists after the first line either way, so that a refused line still
  // counts as the key being assigned (create_camera_vector refuses a rig that
  // names both calibration styles).
  template <std::size_t count>
  static void matrix_entry(configuration&, const row& r, parameter& record, const std::string& value) {
    camera_list& cameras = created<camera_list>(record);
    std::vector<double> entry;
    for (const std::string& field : split_all(value)) entry.push_back(text_to_double(field));
    if (entry.size() != count) {
      std::cerr << r.warning << value << std::endl;
      return;
    }
    cameras.push_back(std::move(entry));
  }

  // ---- number and path lists

  template <class E>
  static E number_of(const std::string& field) {
    if constexpr (std::is_same_v<E, int>)
      return text_to_int(field);
    else
      return static_cast<E>(text_to_double(field));
  }
  template <class E>
  static std::vector<E> numbers_of(const std::string& value) {
    std::vector<E> numbers;
    for (const std::string& field : split_all(value)) numbers.push_back(number_of<E>(field));
    return numbers;
  }
  // Makes `object` the record's object, replacing an earlier one.
  template <class T>
  static void store(parameter& record, T object) {
    created<T>(record) = std::move(object);
  }

  template <class E>
  static void number_list(configuration&, const row&, parameter& record, const std::string& value) {
    store(record, numbers_of<E>(value));
  }

  static void kernel_vals(configuration& self, const row& r, parameter& record, const std::string& value) {
    std::cout << "setting kernel vals" << std::endl;
    number_list<float>(self, r, record, value);
  }

  static void path_list(configuration&, const row& r, parameter& record, const std::string& value) {
    if (!r.text_accepted(value)) {
      std::cerr << r.warning << value << std::endl;
      return;
    }
    created<std::vector<std::string>>(record).push_back(value);
  }

  // Every field converted strictly: a field that is not a number throws.
  static void mahalanobis_covariance(configuration&, const row&, parameter& record, const std::string& value) {
    std::vector<double> numbers;
    for (const std::string& field : split_all(value)) {
      double number = 0.0;
      i_helper(field, number);
      numbers.push_back(number);
    }
    store(record, std::move(numbers));
  }

  static void sequence_lengths(configuration&, const row&, parameter& record, const std::string& value) {
    int length = 0;
    i_helper(value, length);
    if (length < 1) {
      std::cerr << "WARNING: sequence_lengths specified was less than 1" << std::endl;
      return;
    }
    created<std::vector<int>>(record).push_back(length);
  }

  // ---- checked number lists (nothing is stored after a warning)

  static void model_size(configuration&, const row&, parameter& record, const std::string& value) {
    const std::vector<double> numbers = numbers_of<double>(value);
    const char* warning = nullptr;
    if (numbers.size() < 8) {
      warning = "WARNING: Input format for model size is "
                "\"x_size|x_step|y_size|y_step|z_size|z_step|channels|scale1...\"";
    } else if (!(numbers[0] >= 1 && numbers[2] >= 1 && numbers[4] >= 1 && numbers[6] >= 1)) {
      warning = "WARNING: The x,y,z sizes and number of channels for the model must all be greater than or equal to 1";
    } else if (!(numbers[1] > 0 && numbers[3] > 0 && numbers[5] > 0)) {
      warning = "WARNING: The voxel steps in x,y,z must be positive nonzero numbers";
    } else {
      for (std::size_t i = 7; i < numbers.size() && !warning; ++i)
        if (!(numbers[i] > 0))
          warning = "WARNING: An incorrect scale was entered for model_size, all scales must be greater than 0";
    }
    if (warning) {
      std::cerr << warning << std::endl;
      return;
    }
    store(record, numbers);
  }

  static void model_pose_limits(configuration&, const row&, parameter& record, const std::string& value) {
    const std::vector<double> numbers = numbers_of<double>(value);
    if (numbers.size() % 3 != 0) {
      std::cerr << "WARNING: Input format for model size is \"min_limit1|max_limit1|step1|...\"" << std::endl;
      return;
    }
    for (std::size_t i = 0; i < numbers.size(); i += 3) {
      if (!(numbers[i] < numbers[i + 1])) {
        std::cerr << "WARNING: One of the min limits for model_pose_limits was >= the max limit" << std::endl;
        return;
      }
    }
    store(record, numbers);
  }

  static void scale_noise(configuration&, const row&, parameter& record, const std::string& value) {
    const std::vector<double> numbers = numbers_of<double>(value);
    for (double number : numbers) {
      if (!(number >= 0)) {
        std::cerr << "WARNING: An incorrect value was entered in scale_noise, all values must be greater than or "
                     "equal to 0"
                  << std::endl;
        return;
      }
    }
    store(record, numbers);
  }

  static void classifier_detector_roi(configuration&, const row&, parameter& record, const std::string& value) {
    const std::vector<int> numbers = numbers_of<int>(value);
    if (numbers.size() != 4) {
      std::cerr << "WARNING: classifier_detector_roi requires 4 parameters of the form x|y|width|height, but there "
                   "were "
                << numbers.size() << " values." << std::endl;
      return;
    }
    for (int axis = 0; axis < 2; ++axis) {
      if (numbers[axis] < 0) {
        std::cerr << "WARNING: classifier_detector_roi had a negative " << (axis ? "y" : "x") << " value specified "
                  << numbers[axis] << "." << std::endl;
        return;
      }
    }
    store(record, cv::Rect(numbers[0], numbers[1], numbers[2], numbers[3]));
  }

  static void classifier_detector_neighbours(configuration&, const row&, parameter& record, const std::string& value) {
    const std::vector<int> numbers = numbers_of<int>(value);
    for (int number : numbers) {
      if (number < 0) {
        std::cerr << "WARNING: Negative number found in parameter classifier_detector_neighbours." << std::endl;
        return;
      }
    }
    if (numbers.size() != 3) {
      std::cerr << "WARNING: classifier_detector_neighbours should specify the number of neighbours in 3 dimensions, "
                   "but there were "
                << numbers.size() << " entries." << std::endl;
      return;
    }
    store(record, numbers);
  }

  // ---- records

  // Prints `warning` and `number` as one line; true, so that a check reads
  // `if (bad) return refuse(...)`.
  template <class N>
  static bool warn(const char* warning, const N& number) {
    std::cerr << warning << number << std::endl;
    return true;
  }

  // True, after "WARNING: Repeated occurence of <what> "<value>" found", when
  // the record list already holds an element whose fields equal those of `item`.
  template <class R, class Fields>
  static bool repeated(const parameter& record, const R& item, Fields fields_of, const char* what,
                       const std::string& value) {
    if (const std::vector<R>* list = object<std::vector<R>>(record)) {
      for (const R& earlier : *list) {
        if (fields_of(earlier) == fields_of(item)) {
          std::cerr << "WARNING: Repeated occurence of " << what << " \"" << value << "\" found" << std::endl;
          return true;
        }
      }
    }
    return false;
  }

  static void closing_kernel(configuration& self, const row&, parameter& record, const std::string& value) {
    const std::vector<std::string> fields = split_all(value);
    if (fields.size() < 6) {
      format_warning("kernel", "cols|rows|anchorx|anchory|shape|iterations|value1...", value);
      return;
    }
    const int cols = text_to_int(fields[0]), rows = text_to_int(fields[1]);
    const int anchor_x = text_to_int(fields[2]), anchor_y = text_to_int(fields[3]);
    const int shape = text_to_int(fields[4]), iterations = text_to_int(fields[5]);
    if (cols < 1 && warn("WARNING: ncols less than 1: ", cols)) return;
    if (rows < 1 && warn("WARNING: nrows less than 1: ", rows)) return;
    if ((anchor_x < 1 || anchor_x > cols) &&
        warn("WARNING: Anchorx parameter less than 1 or more than ncols: ", anchor_x))
      return;
    if ((anchor_y < 1 || anchor_y > rows) &&
        warn("WARNING: Anchory parameter less than 1 or more than nrows: ", anchor_y))
      return;
    if (shape != CV_SHAPE_RECT && shape != CV_SHAPE_CROSS && shape != CV_SHAPE_ELLIPSE && shape != CV_SHAPE_CUSTOM &&
        warn("WARNING: Shape parameter must be 0 (rect), 1 (cross), 2 (ellipse) or 100 (custom). Entered value "
             "was: ",
             shape))
      return;
    // A structuring element larger than any image it would close is a typo;
    // refusing it here also keeps OpenCV's int byte count far from overflow.
    if (cols > max_closing_kernel_size || rows > max_closing_kernel_size) {
      std::cerr << "WARNING: kernel of " << cols << " x " << rows << " is too large, the largest is "
                << max_closing_kernel_size << " x " << max_closing_kernel_size << std::endl;
      return;
    }
    const long long cells = static_cast<long long>(cols) * rows;
    std::vector<int> values;
    if (shape == CV_SHAPE_CUSTOM) {
      const std::size_t given = fields.size() - 6;
      if (static_cast<long long>(given) != cells) {
        std::cerr << "WARNING: A custom kernel of " << cols << " x " << rows << " needs " << cells
                  << " kernel values, but " << given << " were given" << std::endl;
        return;
      }
      for (std::size_t i = 6; i < fields.size(); ++i) {
        values.push_back(text_to_int(fields[i]));
        if ((values.back() < 0 || values.back() > 255) && warn("WARNING: value not from 0 to 255: ", values.back()))
          return;
      }
    }
    if (iterations < 1 &&
        warn("WARNING: number of iterations must be greater than 0, entered value was: ", iterations))
      return;
    record.value = structured(cvCreateStructuringElementEx(cols, rows, anchor_x - 1, anchor_y - 1, shape,
                                                           values.empty() ? nullptr : values.data()));
    const std::size_t at = self.find_index("closing_iterations");
    if (at == self.parameters.size() || self.parameters[at].type != param_int) {
      std::cerr << "WARNING: Parameter closing_iterations was not found in parameters vector, it must not have been "
                   "initialised."
                << std::endl;
      return;
    }
    self.parameters[at].value = iterations;
  }

  static void haar_setting(configuration&, const row&, parameter& record, const std::string& value) {
    std::vector<std::string> fields;
    if (!fields_as_in("cascade_loc|scale_rate|detections|base_width|base_height|extra_settings", value, fields,
                      "samples"))
      return;
    configuration::haar_setting setting;
    setting.cascade_loc = fields[0];
    setting.scale_rate = text_to_double(fields[1]);
    setting.detections = text_to_int(fields[2]);
    setting.base_width = text_to_int(fields[3]);
    setting.base_height = text_to_int(fields[4]);
    setting.extra_settings = text_to_int(fields[5]);
    if (!(setting.scale_rate >= 0) && warn("WARNING: scale_rate parameter less than 0: ", setting.scale_rate)) return;
    if (setting.detections < 1 && warn("WARNING: detections parameter less than 1: ", setting.detections)) return;
    if (setting.base_width < 1 && warn("WARNING: base_width parameter less than 1: ", setting.base_width)) return;
    if (setting.base_height < 1 && warn("WARNING: base_height less than 1: ", setting.base_height)) return;
    if ((setting.extra_settings < 0 || setting.extra_settings > 15) &&
        warn("WARNING: extra_settings less than 0 or greater than 15: ", setting.extra_settings))
      return;
    const auto fields_of = [](const configuration::haar_setting& h) {
      return std::tie(h.cascade_loc, h.scale_rate, h.detections, h.base_width, h.base_height, h.extra_settings);
    };
    if (repeated(record, setting, fields_of, "scale", value)) return;
    created<std::vector<configuration::haar_setting>>(record).push_back(setting);
  }

  static void scale(configuration&, const row&, parameter& record, const std::string& value) {
    const std::string::size_type first = value.find(',');
    const std::string::size_type second = first == std::string::npos ? first : value.find(',', first + 1);
    if (value.size() < 2 || value.front() != '(' || value.back() != ')' || second == std::string::npos) {
      format_warning("scales", "(samples,radius,scale_factor)", value);
      return;
    }
    scale_setting setting;
    setting.samples = text_to_int(value.substr(1, first - 1));
    setting.radius = static_cast<float>(text_to_double(value.substr(first + 1, second - first - 1)));
    setting.scale_factor = static_cast<float>(text_to_double(value.substr(second + 1, value.size() - second - 2)));
    if (!(setting.radius > 0)) warn("WARNING: Radius not greater than 0: ", setting.radius);
    if (!(setting.samples >= 1 && setting.samples <= 8 * setting.radius))
      std::cerr << "WARNING: Samples parameter not between 1 and 8*radius (" << 8 * setting.radius
                << "): " << setting.samples << std::endl;
    if (!(setting.scale_factor > 0)) warn("WARNING: scale_factor parameter not greater than 0: ", setting.scale_factor);
    const auto fields_of = [](const scale_setting& t) { return std::tie(t.samples, t.radius, t.scale_factor); };
    repeated(record, setting, fields_of, "scale", value);  // warned about, kept all the same
    created<std::vector<scale_setting>>(record).push_back(setting);
  }

  // "true" or "false" into `out`; false for any other word.
  static bool switch_word(const std::string& word, bool& out) {
    if (word != "true" && word != "false") return false;
    out = word == "true";
    return true;
  }

  static void stereo_setting(configuration&, const row&, parameter& record, const std::string& value) {
    std::vector<std::string> fields;
    if (!fields_as_in("stereo_mask_size|edge_correlation_on|edge_mask_size|back_and_forth_on|width|height|"
                      "max_disp|min_disp",
                      value, fields, "stereo settings"))
      return;
    configuration::stereo_setting s;
    s.stereo_mask_size = text_to_int(fields[0]);
    s.edge_mask_size = text_to_int(fields[2]);
    s.width = text_to_int(fields[4]);
    s.height = text_to_int(fields[5]);
    s.max_disp = text_to_int(fields[6]);
    s.min_disp = text_to_int(fields[7]);
    if ((s.stereo_mask_size < 1 || s.stereo_mask_size > 23) &&
        warn("WARNING: sms parameter less than 1, or more than 23: ", s.stereo_mask_size))
      return;
    if (!switch_word(fields[1], s.edge_correlation_on) &&
        warn("WARNING: ec parameter must be true or false, passed value was: ", fields[1]))
      return;
    if ((s.edge_mask_size < 3 || s.edge_mask_size > 11) &&
        warn("WARNING: ems parameter less than 3, or more than 11: ", s.edge_mask_size))
      return;
    if (!switch_word(fields[3], s.back_and_forth_on) &&
        warn("WARNING: back_and_forth parameter must be true or false, passed value was: ", fields[3]))
      return;
    if ((s.width < 1 || s.width > 1024) && warn("WARNING: width parameter less than 1, or more than 1024: ", s.width))
      return;
    if ((s.height < 1 || s.height > 768) && warn("WARNING: height parameter less than 1, or more than 768: ", s.height))
      return;
    if ((s.max_disp < 0 || s.max_disp > s.width) &&
        warn("WARNING: max_disp must be positive, and less than the image width: ", s.max_disp))
      return;
    if ((s.min_disp < 0 || s.min_disp > s.width - 11 || s.min_disp > s.max_disp) &&
        warn("WARNING: min_disp must be positive, and less than the image width minus 11, and less than the max "
             "disparity: ",
             s.min_disp))
      return;
    if (s.max_disp - s.min_disp > 240 &&
        warn("WARNING: The distance between min and max disparity must be less than 240: ", s.max_disp - s.min_disp))
      return;
    const auto fields_of = [](const configuration::stereo_setting& t) {
      return std::tie(t.stereo_mask_size, t.edge_correlation_on, t.edge_mask_size, t.back_and_forth_on, t.width,
                      t.height, t.max_disp, t.min_disp);
    };
    if (repeated(record, s, fields_of, "stereo settings", value)) return;
    created<std::vector<configuration::stereo_setting>>(record).push_back(s);
  }

  static void pixel_sizes(configuration&, const row&, parameter& record, const std::string& value) {
    const std::string::size_type bar = value.find('|');
    if (bar == std::string::npos) {
      format_warning("pixel_sizes", "pixel_width, pixel_height", value, true);
      return;
    }
    pixel_size size;
    size.width = text_to_double(value.substr(0, bar));
    size.height = text_to_double(value.substr(bar + 1));
    if (!(size.width > 0 && size.height > 0)) {
      std::cerr << "WARNING: Either pixel width or height was not greater than 0 (" << size.width << ","
                << size.height << ")" << std::endl;
      return;
    }
    created<std::vector<pixel_size>>(record).push_back(size);
  }

  // A whole number with an optional sign and nothing else.
  static bool is_integer(const std::string& text) {
    char* end = nullptr;
    std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && *end == '\0';
  }

  // The whole sample is checked before anything is stored, so a refused
  // sample leaves class_vector aligned with the sample list.
  static void sample(configuration& self, const row&, parameter& record, const std::string& value) {
    std::vector<std::string> fields;
    if (!fields_as_in("location|frame|x1|x2|y1|y2|value1...", value, fields, "samples")) return;
    trel::sample s;
    s.location = fields[0];
    if (!is_integer(fields[1]) &&
        warn("WARNING: Frame parameter was non numeric (old style sample list?): ", fields[1]))
      return;
    s.frame = text_to_int(fields[1]);
    s.x1 = text_to_int(fields[2]);
    s.x2 = text_to_int(fields[3]);
    s.y1 = text_to_int(fields[4]);
    s.y2 = text_to_int(fields[5]);
    if (s.frame < -1 && warn("WARNING: Frame parameter less than -1: ", s.frame)) return;
    if (s.x1 < 0 && warn("WARNING: x1 less than 0: ", s.x1)) return;
    if (s.x2 < s.x1) {
      std::cerr << "WARNING: x2 (" << s.x2 << ")  less than x1 (" << s.x1 << ")" << std::endl;
      return;
    }
    if (s.y1 < 0 && warn("WARNING: y1 less than 0: ", s.y1)) return;
    if (s.y2 < s.y1) {
      std::cerr << "WARNING: y2 (" << s.y2 << ")  less than y1 (" << s.y1 << ")" << std::endl;
      return;
    }
    const std::size_t at = self.find_index("class_vector");
    if (at == self.parameters.size() || self.parameters[at].type != param_special ||
        std::get<structured>(self.parameters[at].value).type() != typeid(std::vector<double>*)) {
      created<std::vector<trel::sample>>(record).push_back(s);
      std::cerr << "WARNING: Parameter class_vector was not found in parameters vector, it must not have been "
                   "initialised."
                << std::endl;
      return;
    }
    int classes = -1;
    int outputs = 1;
    self.get_param("classes", classes);
    self.get_param("output_parameters", outputs);
    const std::vector<double> values = numbers_of<double>(fields[6]);
    if (classes > 1) {
      for (double class_value : values) {
        if (!(class_value < classes)) {
          std::cerr << "WARNING: class parameter not below number of classes (" << classes << "): " << class_value
                    << std::endl;
          return;
        }
      }
    }
    std::vector<trel::sample>& samples = created<std::vector<trel::sample>>(record);
    samples.push_back(s);
    std::vector<double>& class_vector = created<std::vector<double>>(self.parameters[at]);
    class_vector.insert(class_vector.end(), values.begin(), values.end());
    if (values.size() != static_cast<std::size_t>(outputs))
      std::cerr << values.size() << " parameters in sample but output dimensions specified as " << outputs
                << std::endl;
  }
};

const std::vector<configuration::catalogue_row>& configuration::catalogue() {
  using row = catalogue_row;
  using rules = structured_rules;
  const auto at_least = row::at_least;
  const auto greater_than = row::greater_than;
  const auto less_than = row::less_than;
  const auto from_to = row::from_to;
  const auto strictly_between = row::strictly_between;

  static const std::vector<catalogue_row> rows = {
      // ---- booleans
      row::flag("use_classification_tracker").warn("WARNING: Unrecognised value for use_classification_tracker: "),
      row::flag("use_object_tracker").warn("WARNING: Unrecognised value for use_object_tracker: "),
      row::flag("interpolate").warn("WARNING: Interpolate parameter not 1,0,true or false: "),
      row::flag("uniform").warn("WARNING: Uniform parameter not 1,0,true or false: "),
      row::flag("rotationally_invariant")
          .warn_quoted("WARNING: Rotationally invariant parameter not 1,0,true or false: "),
      row::flag("sf_do_resampling", true),
      row::flag("sf_multiply_prior"),
      row::flag("sf_normalise_weights", true),
      row::flag("sf_noise_based_on_weight", true),
      row::flag("sf_randomly_spread_missing"),
      row::flag("sf_ray_resampling", true),
      row::flag("sf_projection_scoring"),
      row::flag("sf_two_stage_pf", true),
      row::flag("sf_smoothness_weighting"),
      row::flag("sf_image_plane", true),
      row::flag("sf_inner_noise_loop"),
      row::flag("sf_exponential_cost", true),
      row::flag("sf_motion_only"),
      row::flag("sf_propagate_velocities"),
      row::flag("sf_ray_resample_all_cameras"),
      row::flag("sf_interpolate_pixels"),
      row::flag("sf_weight_prev_pos_conformancy"),
      row::flag("sf_no_noise_on_best_per_ray", true),
      row::flag("sf_dont_copy_neighbour_rays"),
      row::flag("sf_favour_small_velocs"),
      row::flag("sf_favour_skin_colour"),
      row::flag("sf_forward_and_back"),
      row::flag("sf_forward_est"),
      row::flag("sf_write_traj"),
      row::flag("sf_write_flows", true),
      row::flag("deinterlace_input"),
      row::flag("sf_occlusion_aware"),
      row::flag("empty_clusters_at_boundary"),
      row::flag("filter_sf_vals_3d"),
      row::flag("filter_sf_weights_3d"),
      row::flag("filter_sf_2d"),
      row::flag("acc_classifier_averaging"),
      row::flag("spotting_classifier"),
      row::flag("accumulation_classifier"),
      row::flag("sf_ml_holistic_mean").take_new(),
      row::flag("sf_ml_holistic_var").take_new(),
      row::flag("sf_ml_holistic_color_hist").take_new(),
      row::flag("sf_ml_local_mean").take_new(),
      row::flag("sf_ml_local_var").take_new(),
      row::flag("sf_ml_local_color_hist").take_new(),
      row::flag("sf_ml_local_mean_per_view").take_new(),
      row::flag("sf_ml_local_var_per_view").take_new(),
      row::flag("sf_ml_local_ssd").take_new(),
      row::flag("sf_ml_holistic_mean_per_view").take_new(),
      row::flag("sf_ml_holistic_var_per_view").take_new(),
      row::flag("sf_ml_holistic_ssd").take_new(),
      row::flag("sf_ml_pixel_vals").take_new(),
      row::flag("sf_ml_pixel_norm_vals").take_new(),
      row::flag("sf_ml_pixel_mean").take_new(),
      row::flag("sf_ml_pixel_var").take_new(),
      row::flag("sf_ml_pixel_gradient").take_new(),
      row::flag("sf_ml_pixel_gabor").take_new(),
      row::flag("hosf_indie_orie").take_new(),
      row::flag("hosf_proj_flows").take_new(),
      row::flag("hosf_rot_inv").take_new(),
      row::flag("hosf_rot_inv_biggest").take_new(),
      row::flag("sf_ml_dummy").take_new(),
      row::flag("hosf_rot_roll_subregions").take_new(),
      row::flag("sf_ml_cost_and_grad").take_new(),
      row::flag("surface_normal_consistency").take_new(),

      // ---- texts
      row::text("mode").take_new().one_of(mode_words).warn_quoted("WARNING: unrecognised mode: "),
      row::text("classifier_file")
          .take_new()
          .dot_in_last_four_else_warn()
          .warn("WARNING: Classifier file does not have a .xxx extension: "),
      row::text("features").one_of(feature_words).warn_quoted("WARNING: unrecognised features: "),
      row::text("classifier_type").one_of(classifier_words).warn_quoted("WARNING: unrecognised classifier_type: "),
      row::text("setup_file_location")
          .ends_with_txt()
          .warn("WARNING: setup_file_location does not have a .txt extension: "),
      row::text("object_tracker_type")
          .one_of(tracker_words)
          .warn("WARNING: Unrecognised object_tracker_type specified: "),
      row::text("object_fitness_type")
          .one_of(fitness_words)
          .warn("WARNING: Unrecognised object_fitness_type specified: "),
      row::text("value_tracker_type")
          .one_of(tracker_words)
          .warn("WARNING: Unrecognised value_tracker_type specified: "),
      row::text("value_fitness_type")
          .take_new()
          .one_of(fitness_words)
          .warn("WARNING: Unrecognised value_fitness_type specified: "),
      row::text("value_peak_extractor")
          .one_of(peak_extractor_words)
          .warn("WARNING: value_peak_extractor should be mean, median or meanshift, entered value was: "),
      row::text("object_peak_extractor")
          .one_of(peak_extractor_words)
          .warn("WARNING: object_peak_extractor should be mean, median or meanshift, entered value was: "),
      row::text("object_extractor"),
      row::text("object_detector"),
      row::text("sf_estimator").take_new(),
      row::text("sf_gt_loc"),
      row::text("sf_results_loc").take_new(),
      row::text("cluster_type"),
      row::text("filter_type"),
      row::text("feature_path"),
      row::text("distance_function").take_new(),
      row::text("bootstrapping_feature_input"),
      row::text("sf_ml_classifier_output"),
      row::text("cc_eval_type")
          .take_new()
          .one_of(cc_eval_words)
          .warn_quoted("WARNING: unrecognised cc_eval_type: ")
          .then_line("WARNING: recognised types are clean, noisy and outlier"),
      row::text("depth_camera_config", "videos/scene_flow/Kinect/dep_param.txt"),
      row::text("svm_type", "c"),
      row::text("svm_kernel", "rbf"),

      // ---- integers
      row::integer("classes", -1).accept(at_least(1)).warn("WARNING: the number of classes was not greater than 0: "),
      row::integer("x_subregions", -1)
          .accept(at_least(1))
          .warn("WARNING: the number of x subregions was not greater than 0: "),
      row::integer("trees", -1).accept(at_least(1)).warn("WARNING: Number of trees less than 1: "),
      row::integer("y_subregions", -1)
          .accept(at_least(1))
          .warn("WARNING: the number of y subregions was not greater than 0: "),
      // Set together with the structuring element of closing_kernel only.
      row::integer("closing_iterations", 0).not_by_name(),
      row::integer("object_hypothesis_dimensions", 0)
          .accept(at_least(1))
          .warn("WARNING: Object_hypothesis_dimensions must be greater than 0, value specified was: "),
      row::integer("value_num_particles", 0)
          .accept(at_least(1))
          .warn("WARNING: number of value particles should be greater than 0, entered value was: "),
      row::integer("object_num_particles", 0)
          .accept(at_least(1))
          .warn("WARNING: number of object particles should be greater than 0, entered value was: "),
      row::integer("value_hypothesis_dimensions", 0)
          .accept(at_least(1))
          .warn("WARNING: value_hypothesis_dimensions must be greater than 0, value specified was: "),
      row::integer("output_parameters", 1)
          .repeat_text("WARNING: output_parameters encountered multiple times in config file (using new one "
                       "anyway). Ignore this for multi-classifier systems.")
          .accept(at_least(1))
          .warn_number("WARNING: Number of output parameters must be greater than 0, entered value was: "),
      row::integer("output_bitmap", -1)
          .accept(from_to(0, 127))
          .warn_number("WARNING: output_bitmap must be greater than or equal to 0, and less than128, entered value "
                       "was: "),
      row::integer("crossvalidation_iterations", 0)
          .accept(at_least(0))
          .warn_number("WARNING: crossvalidation_iterations must be greater than or equal to 0, entered value was: "),
      row::integer("classifier_detector_max_scales", 0)
          .accept(at_least(0))
          .warn_number(
              "WARNING: classifier_detector_max_scales must be greater than or equal to 0, entered value was: "),
      row::integer("sf_pyramid_levels", 0)
          .accept(at_least(0))
          .warn("WARNING: sf_pyramid_levels should be greater than or equal to 0, entered value was: "),
      row::integer("sf_birth_rate", 0)
          .accept(at_least(0))
          .warn("WARNING: sf_birth_rate should not be less than 0, entered value was: "),
      row::integer("sf_max_noise_loops", 0)
          .accept(at_least(0))
          .warn("WARNING: sf_max_noise_loops should not be less than 0, entered value was: "),
      row::integer("sf_gt_pos_kinect_start", 0)
          .accept(at_least(0))
          .warn("WARNING: sf_gt_pos_kinect_start should not be less than 0, entered value was: "),
      row::integer("sf_patch_size", 3)
          .accept(at_least(0))
          .warn("WARNING: sf_patch_size should not be less than 0, entered value was: "),
      row::integer("kernel_width", 3)
          .accept(at_least(3))
          .warn("WARNING: kernel_width should not be less than 3, entered value was: ")
          .odd("WARNING: kernel_width should be odd, entered value was: "),
      row::integer("num_viewpoints", -1)
          .accept(at_least(1))
          .warn("WARNING: num_viewpoints should not be less than 1, entered value was: "),
      row::integer("image_dep_seg_thresh", 0)
          .accept(from_to(0, 255))
          .warn("WARNING: image_dep_seg_thresh should not be less than 0 or more than 255, entered value was: "),
      row::integer("kmeans_max_iters", 10000)
          .accept(at_least(1))
          .warn("WARNING: kmeans_max_iters should not be less than 1, entered value was: "),
      row::integer("sf_ml_bootstrap_iters", 1)
          .accept(at_least(1))
          .warn("WARNING: sf_ml_bootstrap_iters should not be less than 1, entered value was: "),
      row::integer("hosf_azimuth_bins", 4)
          .accept(at_least(1))
          .warn("WARNING: hosf_azimuth_bins should not be less than 1, entered value was: "),
      row::integer("hosf_altitude_bins", 4)
          .accept(at_least(1))
          .warn("WARNING: hosf_altitude_bins should not be less than 1, entered value was: "),
      row::integer("hosf_x_cells", 3)
          .accept(at_least(1))
          .warn("WARNING: hosf_x_cells should not be less than 1, entered value was: "),
      row::integer("hosf_y_cells", 3)
          .accept(at_least(1))
          .warn("WARNING: hosf_y_cells should not be less than 1, entered value was: "),
      row::integer("hosf_cell_width", 11)
          .take_new()
          .accept(at_least(1))
          .warn("WARNING: hosf_cell_width should not be less than 1, entered value was: "),
      row::integer("hosf_cell_height", 11)
          .take_new()
          .accept(at_least(1))
          .warn("WARNING: hosf_cell_height should not be less than 1, entered value was: "),
      row::integer("svm_crossfolds", 5)
          .accept(at_least(1))
          .warn("WARNING: svm_crossfolds should not be less than 1, entered value was: "),
      row::integer("svm_grid_iterations", 1)
          .accept(at_least(1))
          .warn("WARNING: svm_grid_iterations should not be less than 1, entered value was: "),
      row::integer("svm_num_chi2_kernels", 1)
          .accept(at_least(1))
          .warn("WARNING: svm_num_chi2_kernels should not be less than 1, entered value was: "),

      // ---- reals
      row::real("dep_seg_thresh", 0.0).accept(at_least(0)).warn_number("WARNING: Invalid value for dep_seg_thresh: "),
      row::real("x_search_expansion", 1.0).no_repeat_test(),
      row::real("y_search_expansion", 1.0).no_repeat_test(),
      row::real("ratio", -1.0).accept(strictly_between(0, 1)).warn("WARNING: Ratio not between 0 and 1: "),
      row::real("feature_ratio", -1.0)
          .accept(strictly_between(0, 1))
          .warn("WARNING: feature_ratio not between 0 and 1: "),
      row::real("training_ratio", 0.0)
          .accept(strictly_between(0, 1))
          .warn_number("WARNING: training_ratio must be greater than 0, and less than 1, entered value was: "),
      row::real("detector_threshold", 0.5)
          .accept(from_to(0, 1))
          .warn("WARNING: detector_threshold should be between 0 and 1, entered value was: "),
      row::real("sf_pyramid_scale_factor", 0.5)
          .accept(greater_than(0))
          .warn("WARNING: sf_pyramid_scale_factor should be greater than 0, entered value was: "),
      row::real("brightness_constancy_likelihood_decay", -1.0)
          .accept(less_than(0))
          .warn("WARNING: brightness_constancy_likelihood_decay should be less than 0, entered value was: "),
      row::real("frame_interval", 0.0)
          .accept(greater_than(0))
          .warn("WARNING: frame_interval should be greater than 0, entered value was: "),
      row::real("trajectory_threshold", 1000.0)
          .accept(greater_than(0))
          .warn("WARNING: trajectory_threshold should be greater than 0, entered value was: "),
      row::real("sf_patch_ssd_gate", 100000.0)
          .accept(greater_than(0))
          .warn("WARNING: sf_patch_ssd_gate should be greater than 0, entered value was: "),
      row::real("ip_downsampling", 1.0)
          .accept(greater_than(0))
          .warn("WARNING: ip_downsampling should be greater than 0, entered value was: "),
      row::real("image_gaussian_noise_stddev", 1.0)
          .accept(at_least(0))
          .warn("WARNING: image_gaussian_noise_stddev should not be negative, entered value was: "),
      row::real("image_impulse_noise_level", 0.01)
          .accept(at_least(0))
          .warn("WARNING: image_impulse_noise_level should not be negative, entered value was: "),
      row::real("kmeans_min_change", 0.0)
          .accept(at_least(0))
          .warn("WARNING: kmeans_min_change should not be negative, entered value was: "),
      row::real("sf_ml_training_fraction", 0.0)
          .accept(from_to(0, 1))
          .warn("WARNING: sf_ml_training_fraction should not be negative, entered value was: ")
          .above("WARNING: sf_ml_training_fraction should not be more than 1, entered value was: "),
      row::real("bilateral_value_variance", 0.0)
          .accept(at_least(0))
          .warn("WARNING: bilateral_value_variance should not be negative, entered value was: "),
      row::real("sfml_noise_train_sample_rate", 1.0)
          .accept(at_least(0))
          .warn("WARNING: sfml_noise_train_sample_rate should not be less than 0, entered value was: "),

      // ---- structured parameters
      row::object<IplConvKernel>("closing_kernel", rules::closing_kernel, release_kernel),
      row::object<std::vector<std::string>>("ip_step", rules::path_list).appends(),
      row::object<std::vector<haar_setting>>("haar_setting", rules::haar_setting).appends(),
      row::object<std::vector<scale_setting>>("scale", rules::scale).appends(),
      row::object<std::vector<stereo_setting>>("stereo_setting", rules::stereo_setting).appends(),
      row::object<std::vector<double>>("object_particle_upper_bounds", rules::number_list<double>),
      row::object<std::vector<double>>("object_particle_lower_bounds", rules::number_list<double>),
      row::object<std::vector<double>>("value_particle_upper_bounds", rules::number_list<double>),
      row::object<std::vector<double>>("value_particle_lower_bounds", rules::number_list<double>),
      row::object<std::vector<double>>("value_dynamics_matrix", rules::number_list<double>),
      row::object<std::vector<double>>("object_dynamics_matrix", rules::number_list<double>),
      row::object<std::vector<sample>>("sample", rules::sample).appends(),
      // Filled by sample only.
      row::object<std::vector<double>>("class_vector", nullptr).not_by_name(),
      row::object<std::vector<double>>("model_size", rules::model_size),
      row::object<std::vector<double>>("location_noise", rules::number_list<double>),
      row::object<std::vector<double>>("scale_noise", rules::scale_noise),
      row::object<camera_list>("bumblebee_params", rules::bumblebee_params).appends(),
      row::object<cv::Rect>("classifier_detector_roi", rules::classifier_detector_roi),
      row::object<std::vector<int>>("classifier_detector_neighbours", rules::classifier_detector_neighbours),
      row::object<std::vector<double>>("model_pose_limits", rules::model_pose_limits),
      row::object<std::vector<std::string>>("model_loc", rules::path_list)
          .appends()
          .ends_with_txt()
          .warn("WARNING: model_loc does not have a .txt extension: "),
      row::object<camera_list>("extrinsic_camera_params", rules::extrinsic_camera_params).appends(),
      row::object<camera_list>("extrinsic_camera_params_q", rules::extrinsic_camera_params_q).appends(),
      row::object<std::vector<pixel_size>>("pixel_sizes", rules::pixel_sizes).appends(),
      row::object<std::vector<std::string>>("sf_gt_disp_loc", rules::path_list).appends(),
      row::object<std::vector<double>>("object_noise_level", rules::number_list<double>),
      row::object<std::vector<double>>("value_noise_level", rules::number_list<double>),
      row::object<camera_list>("camera_proj_mats", rules::matrix_entry<12>)
          .appends()
          .warn("WARNING: When reading camera_proj_mats, should be 12 values, entry was: "),
      row::object<std::vector<std::string>>("colour_model_locs", rules::path_list).appends(),
      row::object<camera_list>("projection_offsets", rules::projection_offsets).appends(),
      row::object<camera_list>("camera_space_transform", rules::matrix_entry<16>)
          .appends()
          .warn("WARNING: When reading camera_space_transform, should be 16 values, entry was: "),
      row::object<std::vector<double>>("colour_model_limits", rules::number_list<double>),
      row::object<std::vector<float>>("kernel_vals", rules::kernel_vals),
      row::object<std::vector<int>>("sequence_lengths", rules::sequence_lengths).appends(),
      row::object<std::vector<float>>("kmeans_hierarchy_ratios", rules::number_list<float>),
      row::object<std::vector<std::string>>("precomputed_of_paths", rules::path_list).appends(),
      row::object<std::vector<double>>("mahalanobis_covariance", rules::mahalanobis_covariance)
          .repeat_text("WARNING: mahalanobis_covariance already encountered in config. Overwriting"),
      row::object<std::vector<int>>("svm_multi_kernel_lengths", rules::number_list<int>).take_new(),
      row::object<std::vector<std::string>>("surface_normal_imgs", rules::path_list).appends(),
  };
  return rows;
}

const configuration::catalogue_row* configuration::find_row(const std::string& name) {
  for (const catalogue_row& row : catalogue())
    if (name == row.name) return &row;
  return nullptr;
}

// ---- construction and release

configuration::configuration() { initialise(); }

configuration::configuration(const char* location) {
  try {
    initialise();
    if (!location) {
      std::cerr << "WARNING: Null char array location passed to config file constructor." << std::endl;
      return;
    }
    read_location(location);
  } catch (...) {
    release_parameters();
    throw;
  }
}

configuration::configuration(std::string location) {
  try {
    initialise();
    if (location.empty()) {
      std::cerr << "WARNING: Empty string location passed to config file constructor." << std::endl;
      return;
    }
    read_location(location);
  } catch (...) {
    release_parameters();
    throw;
  }
}

configuration::~configuration() { release_parameters(); }

void configuration::release_parameters() {
  for (parameter& record : parameters) {
    if (record.type != param_special) continue;
    const catalogue_row* row = find_row(record.name);
    const structured& object = std::get<structured>(record.value);
    if (!row || row->type != param_special || !row->release ||
        object.type() != std::get<structured>(row->default_value).type()) {
      std::cerr << "WARNING: Unrecognised special parameter, unsure how to clear: " << record.name << std::endl;
      continue;
    }
    // A default object belongs to whoever registered it; the store releases what it created.
    if (object.get() && record.value != record.default_value) row->release(object.get());
    record.value = row->default_value;
  }
  parameters.clear();
}

void configuration::initialise() {
  for (const catalogue_row& row : catalogue()) add_record(row.name, row.default_value, row.type);
}

void configuration::add_record(const std::string& name, cell default_value, int type) {
  const int kind = std::holds_alternative<structured>(default_value) ? static_cast<int>(param_special)
                                                                  : static_cast<int>(default_value.index());
  TREL_CHECK(kind == type, "add_param() : parameter \"" << name << "\" given type code " << type
                                                        << " with a default of type code " << kind);
  if (find_index(name) != parameters.size()) {
    std::cerr << "Matching parameter named \"" << name << "\" found at position i during add." << std::endl;
    return;
  }
  parameters.push_back(parameter{name, default_value, default_value, type});
}

// ---- lookup

std::size_t configuration::find_index(const std::string& name) const {
  std::size_t index = 0;
  while (index < parameters.size() && parameters[index].name != name) ++index;
  return index;
}

void configuration::report_missing(const std::string& name) const {
  std::cerr << "Couldn't get parameter " << name << std::endl;
}

void configuration::check_kind(const parameter& record, int wanted_type) const {
  TREL_CHECK(record.type == wanted_type, "get_param() : parameter \"" << record.name << "\" has type code "
                                                                      << record.type << ", not the requested "
                                                                      << wanted_type);
}

void configuration::check_object_type(const parameter& record, const std::type_info& wanted) const {
  const std::type_info& held = std::get<structured>(record.value).type();
  TREL_CHECK(held == wanted, "get_param() : parameter \"" << record.name << "\" holds a " << type_name(held)
                                                          << ", not the requested " << type_name(wanted));
}

// ---- reading files

void configuration::read_location(const std::string& location) {
  std::ifstream file;
  if (!open_for_reading(file, location)) {
    std::cerr << "WARNING: Input config file was not opened: " << location << std::endl;
    return;
  }
  read_file(file, location);
}

void configuration::import_file(const std::string& path) {
  std::cout << "Importing additional config file: \"" << path << "\"" << std::endl;
  std::ifstream file;
  if (!open_for_reading(file, path)) {
    std::cerr << "WARNING: Error opening import file: " << path << std::endl;
    return;
  }
  read_file(file, path);
}

void configuration::read_file(std::ifstream& file, const std::string& path) {
  const std::string identity = file_identity(path);
  for (const std::string& being_read : files_being_read_) {
    if (being_read == identity) {
      std::cerr << "WARNING: Import file is already being read, not importing it again: " << path << std::endl;
      file.close();
      return;
    }
  }
  // Keeps the chain right when a nested file throws.
  struct chain_entry {
    std::vector<std::string>& chain;
    ~chain_entry() { chain.pop_back(); }
  };
  files_being_read_.push_back(identity);
  const chain_entry entry{files_being_read_};
  configure(file);
}

void configuration::configure(std::ifstream& file) {
  std::size_t line_number = 0;
  std::string line;
  while (file.is_open() && std::getline(file, line)) {
    const std::string token = first_token(line);
    const std::string::size_type equals = token.find('=');
    if (equals != std::string::npos) {
      if (token.find('=', equals + 1) != std::string::npos)
        TREL_THROW("configuration::configure() : line " << line_number
                                                        << " contained more than one equals sign: \"" << token
                                                        << "\"");
      set_param(token.substr(0, equals), token.substr(equals + 1));
    } else if (!token.empty() && !starts_with(token, "//")) {
      TREL_THROW("No equals sign found in config file line " << line_number << ": \"" << token << "\"");
    }
    ++line_number;
  }
  file.close();
}

// ---- assignments

void configuration::set_param(const std::string& name, const std::string& value) {
  if (starts_with(name, "//")) return;
  std::size_t index = find_index(name);
  if (index == parameters.size() && starts_with(name, "__")) {
    add_param(name, std::string(), param_string);
    index = find_index(name);
  }
  if (name == "import") {
    import_file(value);
    return;
  }
  try {
    set_param2(name, value, static_cast<int>(index));
  } catch (const value_error& error) {
    TREL_THROW(error.detail);
  }
}

void configuration::set_param2(std::string name, std::string value, int index) {
  if (index >= 0 && static_cast<std::size_t>(index) < parameters.size() &&
      parameters[static_cast<std::size_t>(index)].name == name) {
    parameter& record = parameters[static_cast<std::size_t>(index)];
    const catalogue_row* row = find_row(name);
    if (row && row->assignable && row->type == record.type) {
      if (row->type != param_special) {
        apply_row(*row, record, value);
        return;
      }
      // The catalogue's parser applies only to an object of the catalogue's type.
      const bool catalogue_type =
          std::get<structured>(record.value).type() == std::get<structured>(row->default_value).type();
      if (row->handler && catalogue_type) {
        if (passes_repeat_rule(*row, record)) row->handler(*this, *row, record, value);
        return;
      }
    }
    if (!row && starts_with(name, "__") && record.type == param_string) {
      record.value = value;
      return;
    }
  }
  std::cerr << "WARNING: Attempted to set an unrecognised parameter: \"" << name << "\" to a value of \"" << value
            << "\", check it dosen't belong to a subconfiguration not yet specified." << std::endl;
}

bool configuration::passes_repeat_rule(const catalogue_row& row, const parameter& record) const {
  using repeat_rule = catalogue_row::repeat_rule;
  if (row.repeat == repeat_rule::none || record.value == record.default_value) return true;
  if (row.repeat_warning) {
    std::cerr << row.repeat_warning << std::endl;
  } else {
    std::cerr << "WARNING: " << row.name << " parameter encountered multiple times in config file"
              << (row.repeat == repeat_rule::take_new ? " (using new one anyway)" : "") << std::endl;
  }
  return row.repeat == repeat_rule::take_new;
}

void configuration::apply_row(const catalogue_row& row, parameter& record, const std::string& value) {
  if (!passes_repeat_rule(row, record)) return;
  const auto print_value = [&](const char* warning) {
    std::cerr << warning;
    if (row.quote_value)
      std::cerr << "\"" << value << "\"";
    else
      std::cerr << value;
    std::cerr << std::endl;
  };
  switch (record.type) {
    case param_bool: {
      if (value == "0" || value == "false") {
        record.value = false;
      } else if (value == "1" || value == "true") {
        record.value = true;
      } else if (row.warning) {
        print_value(row.warning);
      } else {
        std::cerr << "WARNING: " << row.name << " parameter not 1,0,true or false: \"" << value << "\"" << std::endl;
      }
      return;
    }
    case param_string: {
      if (!row.text_accepted(value)) {
        print_value(row.warning);
        if (row.second_line) std::cerr << row.second_line << std::endl;
        if (!row.store_anyway) return;
      }
      record.value = value;
      return;
    }
    case param_int: {
      const int number = text_to_int(value);
      if (const char* warning = row.number_failure(number)) {
        if (row.show_number)
          std::cerr << warning << number << std::endl;
        else
          print_value(warning);
        return;
      }
      record.value = number;
      return;
    }
    case param_double: {
      const double number = text_to_double(value);
      if (const char* warning = row.number_failure(number)) {
        if (row.show_number)
          std::cerr << warning << number << std::endl;
        else
          print_value(warning);
        return;
      }
      record.value = number;
      return;
    }
    default:
      return;
  }
}

}  // namespace trel
