#include "trel_tools/Camera.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

#include "trel_tools/configuration.h"
#include "trel_tools/exception_l.h"
#include "trel_tools/rotation.h"

namespace trel {

namespace {

// Calibration files give degrees; pi is taken at single precision, as the
// existing calibrations were made with it.
constexpr double kDegreesToRadians = 0.017453293005625408;
// Extrinsic parameters all within this of zero mean "no transform".
constexpr double kZeroExtrinsicTolerance = 0.0001;
constexpr double kDeterminantTolerance = 0.0001;
// Points at or below this camera depth are not projected; disparities at or
// below it are not back-projected.
constexpr double kMinDepth = 0.0001;
constexpr double kMinDisparity = 0.0001;
// Rounds u and v half down, so that 10.5 gives 10.
constexpr double kRoundingOffset = 0.49999999;

constexpr std::size_t kBumblebeeValues = 7;
constexpr std::size_t kProjMatValues = 12;
constexpr std::size_t kSpaceTransformValues = 16;

// The per-camera lists of the configuration: one entry of doubles per line of the key.
using camera_list = std::vector<std::vector<double>>;

const camera_list* find_list(configuration& config, const char* key) {
  camera_list* list = nullptr;
  config.get_param(key, list);
  return list;
}

const std::vector<double>* entry_at(const camera_list* list, unsigned int index) {
  return list != nullptr && index < list->size() ? &(*list)[index] : nullptr;
}

bool all_within_zero_tolerance(const std::vector<double>& values) {
  return std::all_of(values.begin(), values.end(),
                     [](double value) { return std::abs(value) <= kZeroExtrinsicTolerance; });
}

// True when the value truncated toward zero is an int (false for NaN and infinities).
bool fits_int(double value) {
  const double truncated = std::trunc(value);
  return truncated >= std::numeric_limits<int>::min() && truncated <= std::numeric_limits<int>::max();
}

matrix<double> matrix_from_rows(const std::vector<double>& values, int rows, int cols) {
  matrix<double> m(rows, cols);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) m[r][c] = values[static_cast<std::size_t>(r * cols + c)];
  return m;
}

}  // namespace

Camera::Camera()
    : x_centre(0),
      y_centre(0),
      x_focus_pixels(0),
      y_focus_pixels(0),
      image_width(0),
      image_height(0),
      baseline(0),
      x_proj_offset(0),
      y_proj_offset(0),
      uses_proj_mats(false) {}

Camera::Camera(configuration& config) : Camera() { init(config, 0); }

Camera::Camera(const Camera& other) = default;

Camera& Camera::operator=(const Camera& other) = default;

Camera::~Camera() = default;

void Camera::set_camera_params(double x_centre_in, double y_centre_in, double x_focus, double y_focus,
                               double baseline_in) {
  x_centre = x_centre_in;
  y_centre = y_centre_in;
  x_focus_pixels = x_focus;
  y_focus_pixels = y_focus;
  baseline = baseline_in;
}

void Camera::set_resolution(double width, double height) {
  if (!fits_int(width) || !fits_int(height))
    TREL_THROW("Camera::set_resolution() : image size (" << width << "," << height << ") does not fit an int");
  image_width = static_cast<int>(width);
  image_height = static_cast<int>(height);
}

// ---- extrinsics

bool Camera::has_extrinsic_transform() const {
  return rotation.get_dim1() == 3 && rotation.get_dim2() == 3 && inverse_rotation.get_dim1() == 3 &&
         inverse_rotation.get_dim2() == 3 && translation.size() == 3;
}

void Camera::set_transform(const char* signature, const matrix<double>& new_inverse_rotation,
                           const std::vector<double>& centre) {
  const matrix<double> new_rotation = new_inverse_rotation.transpose();
  const double det_rotation = new_rotation.det();
  const double det_inverse = new_inverse_rotation.det();
  // Written so that a not-a-number rotation (zero quaternion, infinite angle) is refused too.
  if (!(std::abs(det_rotation - 1) <= kDeterminantTolerance && std::abs(det_inverse - 1) <= kDeterminantTolerance))
    TREL_THROW_AS(signature, "Rotation matrix (or it's inverse) didn't have determinant of 1. Determinants were "
                                 << det_rotation << " and " << det_inverse);
  rotation = new_rotation;
  inverse_rotation = new_inverse_rotation;
  translation = centre;
}

bool Camera::accept_extrinsics(const std::vector<double>& params, std::size_t count) {
  extrinsics = params;
  if (params.size() != count) {
    std::cerr << "Error, extrinsic parameters at do not exist, or have an incorrect size " << params.size()
              << std::endl;
    return false;
  }
  if (all_within_zero_tolerance(params)) {
    rotation.clear();
    inverse_rotation.clear();
    translation.clear();
    return false;
  }
  return true;
}

void Camera::set_extrinsics(std::vector<double> params) {
  if (!accept_extrinsics(params, 6)) return;
  std::cerr << "NOTE: all previous calibation files are probably invalid, as they almost certainly include the "
               "inverse extrinsic rotations compared to the new convention"
            << std::endl;
  const std::vector<double> angles_rad = {params[0] * kDegreesToRadians, params[1] * kDegreesToRadians,
                                          params[2] * kDegreesToRadians};
  set_transform(TREL_FUNCTION_SIGNATURE, euler_angles_rad_to_rot_mat(angles_rad),
                {params[3], params[4], params[5]});
}

void Camera::set_extrinsics_quaternion(std::vector<double>& params) {
  if (!accept_extrinsics(params, 7)) return;
  const std::vector<double> quaternion(params.begin(), params.begin() + 4);
  set_transform(TREL_FUNCTION_SIGNATURE, quaternion_to_rot_mat(quaternion), {params[4], params[5], params[6]});
}

void Camera::apply_extrinsic(double& x, double& y, double& z) const {
  if (!has_extrinsic_transform()) return;
  const double dx = x - translation[0], dy = y - translation[1], dz = z - translation[2];
  const matrix<double>& r = inverse_rotation;
  x = r[0][0] * dx + r[0][1] * dy + r[0][2] * dz;
  y = r[1][0] * dx + r[1][1] * dy + r[1][2] * dz;
  z = r[2][0] * dx + r[2][1] * dy + r[2][2] * dz;
}

void Camera::undo_extrinsic(double& x, double& y, double& z) const {
  if (!has_extrinsic_transform()) return;
  const double cx = x, cy = y, cz = z;
  const matrix<double>& r = rotation;
  x = r[0][0] * cx + r[0][1] * cy + r[0][2] * cz + translation[0];
  y = r[1][0] * cx + r[1][1] * cy + r[1][2] * cz + translation[1];
  z = r[2][0] * cx + r[2][1] * cy + r[2][2] * cz + translation[2];
}

// ---- projection

bool Camera::in_image(double u, double v) const {
  // Written so that a not-a-number position counts as outside.
  return u >= 0 && v >= 0 && u <= image_width - 1.0 && v <= image_height - 1.0;
}

void Camera::project_pinhole(double x, double y, double z, double& u, double& v, double& disp) const {
  apply_extrinsic(x, y, z);
  u = v = disp = 0;
  if (!(z > kMinDepth)) return;
  const double W = image_width, H = image_height;
  const double u_seen = (x * x_focus_pixels / z + x_centre) * W;
  const double v_seen = (y * y_focus_pixels / z + y_centre) * H;
  if (!in_image(u_seen, v_seen)) return;
  u = u_seen;
  v = v_seen;
  disp = (baseline * x_focus_pixels) * W / z;
}

void Camera::project_with_proj_mats(double x, double y, double z, double& u, double& v, double& disp) const {
  apply_extrinsic(x, y, z);
  const double point[4] = {x, y, z, 1.0};
  double in_space[4];
  for (unsigned r = 0; r < 4; ++r) {
    in_space[r] = 0;
    for (unsigned c = 0; c < 4; ++c) in_space[r] += camera_space_transform[r][c] * point[c];
  }
  double q[3];
  for (unsigned r = 0; r < 3; ++r) {
    q[r] = 0;
    for (unsigned c = 0; c < 4; ++c) q[r] += proj_mat[r][c] * in_space[c];
  }
  u = v = disp = 0;
  if (q[2] == 0) return;
  const double u_seen = q[0] / q[2] - x_proj_offset;
  const double v_seen = q[1] / q[2] - y_proj_offset;
  if (!in_image(u_seen, v_seen)) return;
  u = u_seen;
  v = v_seen;
  disp = 1.0;
}

void Camera::project(double x, double y, double z, double& u, double& v, double& disp) const {
  if (uses_proj_mats)
    project_with_proj_mats(x, y, z, u, v, disp);
  else
    project_pinhole(x, y, z, u, v, disp);
}

void Camera::project(double x, double y, double z, int& u, int& v, double& disp) const {
  double u_exact = 0, v_exact = 0;
  project(x, y, z, u_exact, v_exact, disp);
  // Visible positions lie in [0, W - 1], so the sums fit an int.
  u = static_cast<int>(u_exact + kRoundingOffset);
  v = static_cast<int>(v_exact + kRoundingOffset);
}

void Camera::project(Three_d_point in, Three_d_point& out) const { project(in.x, in.y, in.z, out.x, out.y, out.z); }

// ---- back-projection

void Camera::require_pinhole(const char* signature) const {
  if (uses_proj_mats)
    TREL_THROW_AS(signature, "Camera::unproject() : camera uses proj mats, can't currently back project in this case.");
}

bool Camera::back_project(double u, double v, double disp, double& x, double& y, double& z) const {
  if (!(disp > kMinDisparity) || !in_image(u, v)) return false;
  const double W = image_width, H = image_height;
  const double depth = (baseline * x_focus_pixels) * W / disp;
  double cam_x = (u / W - x_centre) / x_focus_pixels * depth;
  double cam_y = (v / H - y_centre) / y_focus_pixels * depth;
  double cam_z = depth;
  undo_extrinsic(cam_x, cam_y, cam_z);
  x = cam_x;
  y = cam_y;
  z = cam_z;
  return true;
}

void Camera::unproject(double u, double v, double disp, double& x, double& y, double& z) const {
  require_pinhole(TREL_FUNCTION_SIGNATURE);
  if (!back_project(u, v, disp, x, y, z)) x = y = z = 0;
}

void Camera::unproject(Three_d_point in, Three_d_point& out) const { unproject(in.x, in.y, in.z, out.x, out.y, out.z); }

double Camera::switch_disp_to_z(const double& disp) const { return image_width * x_focus_pixels * baseline / disp; }

Three_d_point Camera::voxel_widths(double x, double y, double z) const {
  require_pinhole(TREL_FUNCTION_SIGNATURE);
  Three_d_point widths;
  double u = 0, v = 0, disp = 0;
  project(x, y, z, u, v, disp);
  double centre[3];
  if (!back_project(u, v, disp, centre[0], centre[1], centre[2])) return widths;
  // Per output axis the two neighbours one step either way along one image axis.
  const double steps[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double mean_distance[3];
  for (int axis = 0; axis < 3; ++axis) {
    double distance_sum = 0;
    for (const double sign : {-1.0, 1.0}) {
      double neighbour[3];
      if (!back_project(u + sign * steps[axis][0], v + sign * steps[axis][1], disp + sign * steps[axis][2],
                        neighbour[0], neighbour[1], neighbour[2]))
        return widths;
      distance_sum += std::sqrt((neighbour[0] - centre[0]) * (neighbour[0] - centre[0]) +
                                (neighbour[1] - centre[1]) * (neighbour[1] - centre[1]) +
                                (neighbour[2] - centre[2]) * (neighbour[2] - centre[2]));
    }
    mean_distance[axis] = distance_sum / 2;
  }
  widths.x = mean_distance[0];
  widths.y = mean_distance[1];
  widths.z = mean_distance[2];
  return widths;
}

// ---- set-up from a configuration

void Camera::init(configuration& config, unsigned int index) {
  // The work is done on a copy that replaces this camera only when every step succeeded.
  Camera updated(*this);

  const std::vector<double>* intrinsics = entry_at(find_list(config, "bumblebee_params"), index);
  const std::vector<double>* projection = entry_at(find_list(config, "camera_proj_mats"), index);
  if (intrinsics != nullptr) {
    const std::vector<double>& p = *intrinsics;
    // An entry cut short by a format warning keeps only the values read before it.
    if (p.size() != kBumblebeeValues)
      TREL_THROW("Camera::init() : bumblebee_params entry for camera "
                 << index << " has " << p.size() << " values rather than " << kBumblebeeValues
                 << " (its line in the config file was not read completely)");
    updated.set_camera_params(p[0], p[1], p[2], p[3], p[6]);
    updated.set_resolution(p[4], p[5]);
  }
  if (projection != nullptr) {
    if (projection->size() != kProjMatValues)
      TREL_THROW("Camera::init() : camera_proj_mats entry for camera " << index << " has " << projection->size()
                                                                       << " values rather than " << kProjMatValues);
    const std::vector<double>* space_transform = entry_at(find_list(config, "camera_space_transform"), index);
    if (space_transform == nullptr)
      TREL_THROW("Camera::init() : No camera_space_transform specified in config file for camera " << index);
    if (space_transform->size() != kSpaceTransformValues)
      TREL_THROW("Camera::init() : camera_space_transform entry for camera "
                 << index << " has " << space_transform->size() << " values rather than " << kSpaceTransformValues);
    const std::vector<double>* offsets = entry_at(find_list(config, "projection_offsets"), index);
    if (offsets == nullptr)
      TREL_THROW("Camera::init() : camera " << index
                                            << " was specified as using a projection matrix, but projection_offsets "
                                               "was not specified");
    if (offsets->size() != 2)
      TREL_THROW("Camera::init() : projection offset for camera " << index << " has " << offsets->size()
                                                                  << "entries rather than 2");
    if (!fits_int((*offsets)[0]) || !fits_int((*offsets)[1]))
      TREL_THROW("Camera::init() : projection offset for camera " << index << " (" << (*offsets)[0] << ","
                                                                  << (*offsets)[1] << ") does not fit an int");
    updated.proj_mat = matrix_from_rows(*projection, 3, 4);
    updated.camera_space_transform = matrix_from_rows(*space_transform, 4, 4);
    updated.x_proj_offset = static_cast<int>((*offsets)[0]);
    updated.y_proj_offset = static_cast<int>((*offsets)[1]);
    updated.uses_proj_mats = true;
  }
  if (intrinsics == nullptr && projection == nullptr)
    std::cerr << "Camera::init() : camera initialised with index " << index
              << " but no cal file or set of params is specified at that index." << std::endl;

  // One numbering for both extrinsic lists, Euler entries first: a quaternion
  // entry belongs to the camera whose index exceeds the Euler count by its own.
  const camera_list* euler = find_list(config, "extrinsic_camera_params");
  const camera_list* quaternion = find_list(config, "extrinsic_camera_params_q");
  const std::size_t euler_count = euler != nullptr ? euler->size() : 0;
  if (index < euler_count) {
    updated.set_extrinsics((*euler)[index]);
  } else if (quaternion != nullptr && index - euler_count < quaternion->size()) {
    std::vector<double> params = (*quaternion)[index - euler_count];
    updated.set_extrinsics_quaternion(params);
  }

  *this = updated;
}

std::ostream& operator<<(std::ostream& out, const Camera& camera) {
  out << "camera created from specific parameters.\n"
      << "centre position=(" << camera.x_centre << "," << camera.y_centre << ")\n"
      << "focal lengths in pixels=(" << camera.x_focus_pixels << "," << camera.y_focus_pixels << ")\n"
      << "image size=(" << camera.image_width << "," << camera.image_height << ")\n"
      << "disp_to_dist=" << camera.baseline << std::endl;
  return out;
}

void create_camera_vector(std::vector<Camera>& cameras, configuration& config) {
  const camera_list* intrinsics = find_list(config, "bumblebee_params");
  const camera_list* projections = find_list(config, "camera_proj_mats");
  if (intrinsics != nullptr && projections != nullptr)
    TREL_THROW("Config file contains both bumblebee_params and camera_proj_mats. Don't know how to order these so "
               "not handled (yet).");
  const std::size_t count = intrinsics != nullptr ? intrinsics->size() : projections != nullptr ? projections->size() : 0;
  // Built aside and swapped in, so that a camera that cannot be set up leaves the caller's rig as it was.
  std::vector<Camera> rig(cameras.begin(), cameras.begin() + static_cast<std::ptrdiff_t>(std::min(count, cameras.size())));
  rig.resize(count);
  for (std::size_t i = 0; i < count; ++i) rig[i].init(config, static_cast<unsigned int>(i));
  cameras.swap(rig);
}

}  // namespace trel
