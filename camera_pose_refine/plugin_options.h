#ifndef CAMERA_POSE_REFINE_PLUGIN_OPTIONS_H
#define CAMERA_POSE_REFINE_PLUGIN_OPTIONS_H

#include <string>
#include <vector>

#include "camera_pose_refine/mex_host_interface.h"
#include "trel_pose/pose_camera.h"

namespace trel {

// What an option field must hold.
enum class Mex_option_kind {
  text,                 // a character row ('' included), one of the choices when any are listed
  number,               // a finite real double scalar
  positive_number,      // ... greater than 0
  non_negative_number,  // ... 0 or more
  flag,                 // a logical scalar, or a double scalar that is 0 or 1
  scalar,               // any real double scalar: the options' own check() judges its value
  vector,               // a real double row or column, or []: its reader judges the values
};

// One field an options struct may hold.
struct Mex_option_field {
  std::string name;
  Mex_option_kind kind = Mex_option_kind::number;
  std::vector<std::string> choices;  // text only: the accepted values; empty accepts any
};

// The fields an options struct held, converted. Fields it did not hold are absent.
class Mex_options {
public:
  bool has(const std::string& name) const;
  // The value of a text, number or flag field, or `otherwise` when the struct
  // did not hold it.
  std::string text(const std::string& name, const std::string& otherwise) const;
  double number(const std::string& name, double otherwise) const;
  bool flag(const std::string& name, bool otherwise) const;
  // The values of a vector field (empty when the struct did not hold it).
  std::vector<double> vector(const std::string& name) const;

  struct Value {
    std::string name;
    std::string text;
    double number = 0.0;  // numbers, and flags as 0 or 1
    std::vector<double> values;  // vectors
  };
  std::vector<Value> values;  // in the order of the struct's fields
  // Why the struct was refused, naming the input and the field; empty when it was
  // read. A refused struct yields no values.
  std::string refusal;

private:
  const Value* find(const std::string& name) const;
};

// Reads input number `input` (1-based, for the messages) as a 1 by 1 struct of
// options with the given fields, all optional. Refuses (see Mex_options::refusal;
// the caller raises it in its own frame) anything that is not a 1 by 1 struct, a
// field not listed, and a field of the wrong class, size or value, at the first such
// field. Reads no data of a value before its class and size have been checked.
Mex_options read_mex_options(const Mex_host& host, const Mex_array* a, int input,
                             const std::vector<Mex_option_field>& fields);


// The names of the losses (loss_name of every Loss), the choices of the loss fields.
std::vector<std::string> loss_choices();

// The lens of an options struct: its fields distortion, OpenCV's coefficients
// in OpenCV's order (k1 k2 p1 p2 [k3 [k4 k5 k6]]: 4, 5 or 8 values; 4 with
// fisheye), and fisheye (logical). A camera with distortion is refined by the
// pose kernel: the plug-in's own road and its seed classes are the pinhole's.
struct Entry_lens {
  std::vector<double> distortion;  // empty: the pinhole
  bool fisheye = false;
};
std::vector<Mex_option_field> lens_option_fields();
Entry_lens lens_from(const Mex_options& read);
// The camera of K behind the lens. Throws make_camera_model's exception_l for
// a count or value it refuses.
Camera_model entry_camera(const matrix<double>& K, const Entry_lens& lens);

}  // namespace trel

#endif
