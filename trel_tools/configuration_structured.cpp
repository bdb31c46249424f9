#include "trel_tools/configuration.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

#include <opencv2/imgproc/imgproc_c.h>

#include "trel_tools/configuration_internal.h"
#include "trel_tools/exception_l.h"

// The parsers of the structured parameters: value syntaxes, checks, warnings,
// and the objects they create.

namespace trel {

using namespace configuration_detail;

namespace {

using parameter = configuration::parameter;
using structured = configuration::structured;
using camera_list = configuration::camera_list;

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

template <class T>
T* object(const parameter& record) {
  return static_cast<T*>(std::get<structured>(record.value).get());
}
// The record's object, created empty when it does not exist yet.
template <class T>
T& created(parameter& record) {
  if (!object<T>(record)) record.value = structured(std::make_shared<T>());
  return *object<T>(record);
}

std::vector<double>& new_camera_entry(parameter& record) {
  camera_list& cameras = created<camera_list>(record);
  cameras.emplace_back();
  return cameras.back();
}

void extrinsic_entry(parameter& record, const std::string& value, const char* what, const char* syntax) {
  std::vector<double>& entry = new_camera_entry(record);
  std::vector<std::string> fields;
  if (!fields_as_in(syntax, value, fields, what, true)) return;
  for (const std::string& field : fields) entry.push_back(text_to_double(field));
}

template <class E>
E number_of(const std::string& field) {
  if constexpr (std::is_same_v<E, int>)
    return text_to_int(field);
  else
    return static_cast<E>(text_to_double(field));
}
template <class E>
std::vector<E> numbers_of(const std::string& value) {
  std::vector<E> numbers;
  for (const std::string& field : split_all(value)) numbers.push_back(number_of<E>(field));
  return numbers;
}
// Makes `object` the record's object, replacing an earlier one.
template <class T>
void store(parameter& record, T object) {
  created<T>(record) = std::move(object);
}

// Prints `warning` and `number` as one line; true, so that a check reads
// `if (bad) return refuse(...)`.
template <class N>
bool warn(const char* warning, const N& number) {
  std::cerr << warning << number << std::endl;
  return true;
}

// True, after "WARNING: Repeated occurence of <what> "<value>" found", when
// the record list already holds an element whose fields equal those of `item`.
template <class R, class Fields>
bool repeated(const parameter& record, const R& item, Fields fields_of, const char* what,
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

// "true" or "false" into `out`; false for any other word.
bool switch_word(const std::string& word, bool& out) {
  if (word != "true" && word != "false") return false;
  out = word == "true";
  return true;
}

// A whole number with an optional sign and nothing else.
bool is_integer(const std::string& text) {
  char* end = nullptr;
  std::strtol(text.c_str(), &end, 10);
  return end != text.c_str() && *end == '\0';
}

void release_kernel(IplConvKernel* kernel) { cvReleaseStructuringElement(&kernel); }

}  // namespace

// ---- camera keys

void configuration::structured_rules::bumblebee_params(configuration&, const row&, parameter& record, const std::string& value) {
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

void configuration::structured_rules::extrinsic_camera_params(configuration&, const row&, parameter& record, const std::string& value) {
  extrinsic_entry(record, value, "extrinsice camera parameters",
                  "euler_z(roll)|euler_x(pitch)|euler_y(yaw)|x_offset|y_offset|z_offset");
}

void configuration::structured_rules::extrinsic_camera_params_q(configuration&, const row&, parameter& record, const std::string& value) {
  extrinsic_entry(record, value, "extrinsice camera parameters (quaternion)",
                  "quat_x|quat_y|quat_z|quat_w|x_offset|y_offset|z_offset");
}

// A value without '|' still takes its index, with an empty entry, before it
// throws: a client that catches and goes on keeps every later line on its own
// camera, and Camera::init reports the empty entry for this one.
void configuration::structured_rules::projection_offsets(configuration&, const row&, parameter& record, const std::string& value) {
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
void configuration::structured_rules::matrix_entry(configuration&, const row& r, parameter& record, const std::string& value) {
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
void configuration::structured_rules::number_list(configuration&, const row&, parameter& record, const std::string& value) {
  store(record, numbers_of<E>(value));
}

void configuration::structured_rules::kernel_vals(configuration& self, const row& r, parameter& record, const std::string& value) {
  std::cout << "setting kernel vals" << std::endl;
  number_list<float>(self, r, record, value);
}

void configuration::structured_rules::path_list(configuration&, const row& r, parameter& record, const std::string& value) {
  if (!r.text_accepted(value)) {
    std::cerr << r.warning << value << std::endl;
    return;
  }
  created<std::vector<std::string>>(record).push_back(value);
}

// Every field converted strictly: a field that is not a number throws.
void configuration::structured_rules::mahalanobis_covariance(configuration&, const row&, parameter& record, const std::string& value) {
  std::vector<double> numbers;
  for (const std::string& field : split_all(value)) {
    double number = 0.0;
    i_helper(field, number);
    numbers.push_back(number);
  }
  store(record, std::move(numbers));
}

void configuration::structured_rules::sequence_lengths(configuration&, const row&, parameter& record, const std::string& value) {
  int length = 0;
  i_helper(value, length);
  if (length < 1) {
    std::cerr << "WARNING: sequence_lengths specified was less than 1" << std::endl;
    return;
  }
  created<std::vector<int>>(record).push_back(length);
}

// ---- checked number lists (nothing is stored after a warning)

void configuration::structured_rules::model_size(configuration&, const row&, parameter& record, const std::string& value) {
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

void configuration::structured_rules::model_pose_limits(configuration&, const row&, parameter& record, const std::string& value) {
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

void configuration::structured_rules::scale_noise(configuration&, const row&, parameter& record, const std::string& value) {
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

void configuration::structured_rules::classifier_detector_roi(configuration&, const row&, parameter& record, const std::string& value) {
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

void configuration::structured_rules::classifier_detector_neighbours(configuration&, const row&, parameter& record, const std::string& value) {
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

void configuration::structured_rules::closing_kernel(configuration& self, const row&, parameter& record, const std::string& value) {
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
  if (cols > kMaxClosingKernelSize || rows > kMaxClosingKernelSize) {
    std::cerr << "WARNING: kernel of " << cols << " x " << rows << " is too large, the largest is "
              << kMaxClosingKernelSize << " x " << kMaxClosingKernelSize << std::endl;
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
  record.value = structured(std::shared_ptr<IplConvKernel>(
      cvCreateStructuringElementEx(cols, rows, anchor_x - 1, anchor_y - 1, shape,
                                   values.empty() ? nullptr : values.data()),
      release_kernel));
  const std::size_t at = self.find_index("closing_iterations");
  if (at == self.parameters.size() || self.parameters[at].type != param_int) {
    std::cerr << "WARNING: Parameter closing_iterations was not found in parameters vector, it must not have been "
                 "initialised."
              << std::endl;
    return;
  }
  self.parameters[at].value = iterations;
}

void configuration::structured_rules::haar_setting(configuration&, const row&, parameter& record, const std::string& value) {
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

void configuration::structured_rules::scale(configuration&, const row&, parameter& record, const std::string& value) {
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

void configuration::structured_rules::stereo_setting(configuration&, const row&, parameter& record, const std::string& value) {
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

void configuration::structured_rules::pixel_sizes(configuration&, const row&, parameter& record, const std::string& value) {
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

// The whole sample is checked before anything is stored, so a refused
// sample leaves class_vector aligned with the sample list.
void configuration::structured_rules::sample(configuration& self, const row&, parameter& record, const std::string& value) {
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

template void configuration::structured_rules::matrix_entry<12>(configuration&, const row&, parameter&,
                                                                const std::string&);
template void configuration::structured_rules::matrix_entry<16>(configuration&, const row&, parameter&,
                                                                const std::string&);
template void configuration::structured_rules::number_list<double>(configuration&, const row&, parameter&,
                                                                   const std::string&);
template void configuration::structured_rules::number_list<float>(configuration&, const row&, parameter&,
                                                                  const std::string&);
template void configuration::structured_rules::number_list<int>(configuration&, const row&, parameter&,
                                                                const std::string&);

}  // namespace trel
