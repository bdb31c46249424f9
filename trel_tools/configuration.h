#ifndef TREL_TOOLS_CONFIGURATION_H
#define TREL_TOOLS_CONFIGURATION_H

#include <cstddef>
#include <fstream>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <variant>
#include <vector>

#include <opencv2/core/types.hpp>

#include "trel_tools/IO_helpers.h"
#include "trel_tools/export.h"

// OpenCV's structuring element (imgproc/types_c.h), the object of closing_kernel.
struct _IplConvKernel;
typedef struct _IplConvKernel IplConvKernel;

namespace trel {

// The run-time configuration: a flat store of named, typed parameters, filled
// with the catalogue's defaults and then with the assignments of a text file.
//
// File syntax, one assignment per line:
//   name=value        only the first whitespace-delimited token of a line counts,
//                     so nothing may stand around the '=' and anything after a
//                     blank is ignored (trailing comments are free);
//   // comment        a token starting with "//" is skipped, also //name=value;
//   import=path       reads another file in place, the path taken relative to
//                     the process's working directory;
//   __name=text       defines a free-form text parameter on the fly.
// A blank line is skipped; any other token without '=', or with more than one,
// stops the reading with an exception_l naming the zero-based line of the file.
//
// Every problem with a single assignment (unknown name, bad value, repeated
// name) is one "WARNING: " line on standard error; the parameter then keeps
// its value. Three faults throw exception_l instead: a projection_offsets value
// without '|' (which still takes its camera's index, see below), and a field
// that is not a number in sequence_lengths or mahalanobis_covariance, whose
// numbers are read strictly (these change nothing).
// Values are copied out by get_param, except for structured
// parameters, whose objects the store owns for its whole lifetime.
//
// Structured parameters hold an object that the first accepted assignment
// creates (a repeated assignment either keeps it, replaces it, or appends to
// it). get_param hands out a pointer of exactly the type below, null while the
// object does not exist; the store keeps ownership and the pointer stays valid
// for the configuration's lifetime. Asking with another pointer type throws.
//
// Camera rig, one entry per assignment line in reading order (imports
// included), entry n belonging to camera n; camera_list is
// std::vector<std::vector<double>>, get_param(name, camera_list*&):
//   bumblebee_params           x_centre|y_centre|x_focal_length_in_pixels|
//                              y_focal_length_in_pixels|image_width|image_height|baseline
//                              entry: those 7 values (width and height whole
//                              numbers). A value with a format or centre warning
//                              still takes its index: its entry is empty, or holds
//                              the values up to and including the bad centre.
//   camera_proj_mats           12 values: entry is the 3x4 projection matrix row by
//                              row (value r*4+c is row r, column c). A line with
//                              another count is refused with a warning and takes
//                              no index: the next line becomes that camera's entry.
//                              The list exists (perhaps empty) after the first line.
//   camera_space_transform     16 values: the 4x4 transform row by row; refused
//                              like camera_proj_mats otherwise.
//   projection_offsets         x_offset|y_offset: entry of exactly 2 values (a
//                              third field is ignored). A value without '|' throws
//                              exception_l after appending an empty entry, so later
//                              lines keep their cameras.
//   extrinsic_camera_params    euler_z(roll)|euler_x(pitch)|euler_y(yaw)|
//                              x_offset|y_offset|z_offset: 6 values, angles in
//                              degrees, offsets the camera position in the world.
//   extrinsic_camera_params_q  quat_x|quat_y|quat_z|quat_w|x_offset|y_offset|z_offset:
//                              7 values.
//   A format warning on either extrinsic key leaves an empty entry at its index.
//
// Other structured parameters and their pointer types:
//   std::vector<double>*       object_particle_upper_bounds, object_particle_lower_bounds,
//                              value_particle_upper_bounds, value_particle_lower_bounds,
//                              value_dynamics_matrix, object_dynamics_matrix, class_vector,
//                              model_size, location_noise, scale_noise, model_pose_limits,
//                              object_noise_level, value_noise_level, colour_model_limits,
//                              mahalanobis_covariance
//   std::vector<float>*        kernel_vals, kmeans_hierarchy_ratios
//   std::vector<int>*          sequence_lengths, svm_multi_kernel_lengths,
//                              classifier_detector_neighbours
//   std::vector<std::string>*  ip_step, model_loc, sf_gt_disp_loc, colour_model_locs,
//                              precomputed_of_paths, surface_normal_imgs
//   std::vector<configuration::haar_setting>*    haar_setting
//   std::vector<configuration::scale_setting>*   scale
//   std::vector<configuration::stereo_setting>*  stereo_setting
//   std::vector<configuration::pixel_size>*      pixel_sizes
//   std::vector<trel::sample>*                   sample (its values go to class_vector)
//   cv::Rect*                  classifier_detector_roi
//   IplConvKernel*             closing_kernel (its iteration count is closing_iterations);
//                              at most kMaxClosingKernelSize columns and rows, a
//                              larger kernel is refused with a warning
//
// Not copyable. Threads: get_param (and the other const members) may be called
// from several threads at once on a configuration that no thread modifies; the
// store keeps no cache and reading changes nothing (an unknown name's warning
// line may interleave with other output). Construction, reading a file and
// setting values need the object to themselves.
class TREL_TOOLS_EXPORT configuration {
public:
  // The largest closing_kernel accepted, in columns and in rows (1025 x 1025).
  static constexpr int kMaxClosingKernelSize = 1025;

  // The object of each camera key: one entry of doubles per camera.
  using camera_list = std::vector<std::vector<double>>;

  // One haar_setting line: cascade_loc|scale_rate|detections|base_width|base_height|extra_settings.
  struct haar_setting {
    std::string cascade_loc;
    double scale_rate = 0.0;
    int detections = 0;
    int base_width = 0;
    int base_height = 0;
    int extra_settings = 0;
  };
  // One scale line: (samples,radius,scale_factor).
  struct scale_setting {
    int samples = 0;
    float radius = 0.0f;
    float scale_factor = 0.0f;
  };
  // One stereo_setting line:
  // stereo_mask_size|edge_correlation_on|edge_mask_size|back_and_forth_on|width|height|max_disp|min_disp.
  struct stereo_setting {
    int stereo_mask_size = 0;
    bool edge_correlation_on = false;
    int edge_mask_size = 0;
    bool back_and_forth_on = false;
    int width = 0;
    int height = 0;
    int max_disp = 0;
    int min_disp = 0;
  };
  // One pixel_sizes line: pixel_width|pixel_height.
  struct pixel_size {
    double width = 0.0;
    double height = 0.0;
  };

  // Kind codes of a parameter's value.
  enum param_type : int {
    param_special = -1,  // pointer to a structured object owned by the store, null until assigned
    param_int = 0,
    param_double = 1,
    param_bool = 2,
    param_string = 3
  };

  // The cell of a structured parameter: its object together with the pointer
  // type it was created as. Cells compare equal when they point to the same
  // object, so an existing object counts as "already set".
  class structured {
  public:
    structured() = default;
    // Points to `object` without owning it: a default given to add_param stays
    // with whoever registered it.
    template <class T>
    explicit structured(T* object)
        : object_(std::shared_ptr<void>(), const_cast<void*>(static_cast<const void*>(object))),
          type_(&typeid(std::remove_const_t<T>*)) {}
    // Owns `object`: its deleter runs when the last cell holding it goes.
    template <class T>
    explicit structured(std::shared_ptr<T> object)
        : object_(std::const_pointer_cast<std::remove_const_t<T>>(std::move(object))),
          type_(&typeid(std::remove_const_t<T>*)) {}
    void* get() const { return object_.get(); }
    // The pointer type, e.g. typeid(std::vector<double>*).
    const std::type_info& type() const { return *type_; }
    bool operator==(const structured& other) const { return get() == other.get(); }
    bool operator!=(const structured& other) const { return get() != other.get(); }

  private:
    std::shared_ptr<void> object_;
    const std::type_info* type_ = &typeid(void*);
  };

  // The value cell: the alternative in use always matches the record's type
  // code (int, double, bool, std::string, or the structured object).
  using cell = std::variant<int, double, bool, std::string, structured>;

  // One parameter record.
  struct parameter {
    std::string name;
    cell value;
    cell default_value;  // "already set" means value != default_value
    int type;            // a param_type code
  };

  // Registers the catalogue with its defaults and reads no file.
  configuration();
  // Registers the catalogue, then reads the file at `location` and the files it
  // imports. A null or empty location, or a file that cannot be opened, prints a
  // warning and leaves every parameter at its default.
  // Throws exception_l on a malformed line; nothing is left allocated then.
  explicit configuration(const char* location);
  explicit configuration(std::string location);
  virtual ~configuration();

  configuration(const configuration&) = delete;
  configuration& operator=(const configuration&) = delete;

  // Applies one assignment exactly as a file line would, after the last line
  // read so far. The name `import` reads the file named by `value`.
  // Throws exception_l when a file read through `import` is malformed (the
  // lines before the faulty one stay applied) and for the three value faults
  // named above.
  void set_param(const std::string& name, const std::string& value);

  // Copies the value of the parameter `name` into `out` and returns true.
  // T is int, double, bool or std::string for plain parameters, or the pointer
  // type of the structured object for a special one (the pointer stays owned by
  // the store; a pointer to const of the same type is accepted too). An unknown
  // name prints "Couldn't get parameter <name>" on standard error and returns
  // false with `out` unchanged.
  // Throws exception_l naming the parameter and both types when T does not
  // match the parameter's kind or its object's type; `out` is then unchanged.
  template <class T>
  bool get_param(const std::string& name, T& out) const;

protected:
  // Registers the whole catalogue, one add_param per parameter in catalogue
  // order. Every constructor calls it first.
  virtual void initialise();

  // Registers `name` with `default_value`; `type` must be the param_type code of
  // T's kind (throws exception_l otherwise). A pointer type registers a
  // structured parameter of that type: the catalogue's rules apply to it when
  // the name and type are the catalogue's, and only then does the store create
  // (and release) its object; the default object stays its registrant's, and
  // any other structured parameter is named with a warning when the store goes.
  // A name registered already prints "Matching parameter named ..." and keeps
  // the first record.
  template <class T>
  void add_param(const std::string& name, T default_value, int type);

  // Reads assignments from `file` until its end, then closes it. Lines count
  // from 0 within this file. Throws exception_l on a malformed line.
  void configure(std::ifstream& file);

  // The part of an assignment after the lookup: catalogue rules, "__" names and
  // the unknown-name warning. `index` is the record of `name`, or the number of
  // records when there is none.
  void set_param2(std::string name, std::string value, int index);

  // Every record, in registration order.
  std::vector<parameter> parameters;

private:
  struct catalogue_row;
  struct structured_rules;  // the parsers of the structured parameters

  // The catalogue, one row per parameter in registration order.
  static const std::vector<catalogue_row>& catalogue();
  static const catalogue_row* find_row(const std::string& name);
  std::size_t find_index(const std::string& name) const;
  void add_record(const std::string& name, cell default_value, int type);
  void report_missing(const std::string& name) const;
  void check_kind(const parameter& record, int wanted_type) const;
  void check_object_type(const parameter& record, const std::type_info& wanted) const;

  void read_location(const std::string& location);
  void import_file(const std::string& path);
  void read_file(std::ifstream& file, const std::string& path);
  void apply_row(const catalogue_row& row, parameter& record, const std::string& value);
  bool passes_repeat_rule(const catalogue_row& row, const parameter& record) const;
  void release_parameters();

  // The files being read, outermost first, by canonical path: a file on this
  // chain is not read again, so an import cycle ends.
  std::vector<std::string> files_being_read_;
};

// ---- implementation

template <class T>
bool configuration::get_param(const std::string& name, T& out) const {
  const std::size_t index = find_index(name);
  if (index == parameters.size()) {
    report_missing(name);
    return false;
  }
  const parameter& record = parameters[index];
  if constexpr (std::is_pointer_v<T>) {
    check_kind(record, param_special);
    const structured& object = std::get<structured>(record.value);
    check_object_type(record, typeid(std::remove_const_t<std::remove_pointer_t<T>>*));
    out = static_cast<T>(object.get());
  } else {
    static_assert(std::is_same_v<T, int> || std::is_same_v<T, double> || std::is_same_v<T, bool> ||
                      std::is_same_v<T, std::string>,
                  "get_param reads int, double, bool, std::string or a structured object's pointer");
    check_kind(record, std::is_same_v<T, int>      ? param_int
                       : std::is_same_v<T, double> ? param_double
                       : std::is_same_v<T, bool>   ? param_bool
                                                   : param_string);
    out = std::get<T>(record.value);
  }
  return true;
}

template <class T>
void configuration::add_param(const std::string& name, T default_value, int type) {
  if constexpr (std::is_pointer_v<T>) {
    add_record(name, cell(structured(default_value)), type);
  } else {
    static_assert(std::is_same_v<T, int> || std::is_same_v<T, double> || std::is_same_v<T, bool> ||
                      std::is_same_v<T, std::string>,
                  "add_param registers int, double, bool, std::string or a structured object's pointer");
    add_record(name, cell(std::move(default_value)), type);
  }
}

}  // namespace trel

#endif
