#ifndef TREL_TOOLS_CAMERA_H
#define TREL_TOOLS_CAMERA_H

#include <ostream>
#include <vector>

#include "trel_tools/Three_d_point.h"
#include "trel_tools/export.h"
#include "trel_tools/matrix.h"

namespace trel {

class configuration;

// One calibrated camera of a (possibly stereo) rig: world points to pixels
// with a disparity, and back.
//
// Frames. A world point p is seen by the camera at inverse_rotation (p - t):
// `translation` t is the camera centre in world coordinates, `rotation` R
// turns camera directions into world directions and `inverse_rotation` is its
// transpose. The transform is in force only while both rotations are 3x3 and
// t has 3 entries; otherwise world and camera coordinates coincide.
//
// Pinhole mode (the default): the principal point (x_centre, y_centre) is a
// fraction of the image size, the focal lengths are in units of the image width
// (x) and height (y), and the disparity of a point at camera depth z is
// baseline * x_focus_pixels * image_width / z, in pixels.
//
// Projection-matrix mode (entered through init only, never left): the camera-
// space point goes through camera_space_transform (4x4) and proj_mat (3x4);
// the pixel offsets are subtracted afterwards and the third result is a
// visibility flag (1.0) instead of a disparity. Such a camera cannot back-
// project.
//
// Every projection result of (0, 0, 0) means "not visible": behind the camera,
// closer than 0.0001 in depth, or outside the pixel range [0, W - 1] x [0, H - 1].
class TREL_TOOLS_EXPORT Camera {
public:
  // Every number 0, no extrinsics, pinhole mode; projects everything to (0, 0, 0).
  Camera();
  // A default camera, then init(config, 0).
  explicit Camera(configuration& config);
  // Both copy every field, projection matrices and extrinsic state included.
  Camera(const Camera& other);
  Camera& operator=(const Camera& other);
  virtual ~Camera();

  // Sets the camera up from entry `index` of the camera lists of `config`:
  // intrinsics and image size from bumblebee_params, or a projection matrix with
  // its camera_space_transform and projection_offsets from camera_proj_mats
  // (the image size is then left as it was), then extrinsics from entry `index`
  // of the Euler list followed by the quaternion list, numbered as one
  // sequence. Without an intrinsic entry at `index` it prints a line on
  // standard error and keeps its intrinsics.
  // Throws exception_l, with the camera unchanged, for a bumblebee_params entry
  // without its 7 values, a projection matrix without its companions, or
  // extrinsics that do not give a rotation.
  void init(configuration& config, unsigned int index);

  double get_x_centre() const { return x_centre; }
  double get_y_centre() const { return y_centre; }
  double get_x_focus_pixels() const { return x_focus_pixels; }
  double get_y_focus_pixels() const { return y_focus_pixels; }
  double get_baseline() const { return baseline; }
  int get_image_width() const { return image_width; }
  int get_image_height() const { return image_height; }
  // The extrinsic parameters exactly as last given, accepted or not.
  std::vector<double> get_extrinsics() const { return extrinsics; }

  void set_camera_params(double x_centre, double y_centre, double x_focus, double y_focus, double baseline);
  // Truncates both toward zero. Throws exception_l (size unchanged) when a
  // value is not finite or does not fit an int.
  void set_resolution(double width, double height);

  // Euler form: (about z, about x, about y) in degrees, then the camera centre
  // x, y, z in world coordinates; the world-to-camera rotation is
  // Ry Rx Rz of the angles. Six values within 0.0001 of zero remove the
  // transform. Any other count than 6 prints a line on standard error and
  // keeps the transform; every accepted non-zero set prints the calibration NOTE.
  // The parameters are remembered (get_extrinsics) in every case.
  // Throws exception_l, transform unchanged, when the rotation is not proper
  // (determinant away from 1, or not a number).
  void set_extrinsics(std::vector<double> params);
  // Quaternion form: (x, y, z, w) of the world-to-camera rotation (normalised
  // here), then the camera centre. 7 values, otherwise as set_extrinsics but
  // without the NOTE; a zero quaternion with a non-zero centre throws.
  void set_extrinsics_quaternion(std::vector<double>& params);

  // World to camera coordinates in place; identity without extrinsics.
  void apply_extrinsic(double& x, double& y, double& z) const;
  // Camera to world coordinates in place; identity without extrinsics.
  void undo_extrinsic(double& x, double& y, double& z) const;

  // World point to pixel (u = column, v = row) and disparity; all zeros when
  // not visible (see the class comment).
  void project(double x, double y, double z, double& u, double& v, double& disp) const;
  // As above with u and v rounded half down: u + 0.49999999 truncated.
  void project(double x, double y, double z, int& u, int& v, double& disp) const;
  // in.x, in.y, in.z to out.x = u, out.y = v, out.z = disp; the tags of out are kept.
  void project(Three_d_point in, Three_d_point& out) const;

  // Pixel and disparity back to the world point; all zeros when the pixel is
  // outside the image or the disparity is not above 0.0001.
  // Throws exception_l in projection-matrix mode.
  void unproject(double u, double v, double disp, double& x, double& y, double& z) const;
  // in.x, in.y, in.z as (u, v, disp) to out.x, out.y, out.z; the tags of out are kept.
  void unproject(Three_d_point in, Three_d_point& out) const;

  // Camera depth of a disparity: image_width * x_focus_pixels * baseline / disp,
  // unguarded (a zero disparity gives an infinity).
  double switch_disp_to_z(const double& disp) const;

  // World-space size of one image step at the world point (x, y, z): the point
  // is projected, and the pixel neighbours (u +- 1), (v +- 1) and the disparity
  // neighbours (disp +- 1) are back-projected; x, y and z of the result are the
  // mean distances of those pairs from the back-projected point itself.
  // (0, 0, 0) when the point or any of the six neighbours is not visible.
  // Throws exception_l in projection-matrix mode.
  Three_d_point voxel_widths(double x, double y, double z) const;

  friend TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream& out, const Camera& camera);

protected:
  double x_centre;
  double y_centre;
  double x_focus_pixels;
  double y_focus_pixels;
  int image_width;
  int image_height;
  double baseline;
  std::vector<double> translation;
  matrix<double> rotation;
  matrix<double> inverse_rotation;
  std::vector<double> extrinsics;
  matrix<double> proj_mat;
  matrix<double> camera_space_transform;
  int x_proj_offset;
  int y_proj_offset;
  bool uses_proj_mats;

private:
  bool has_extrinsic_transform() const;
  // Remembers the parameters; prints the size message for a count other than
  // `count`, or removes the transform when all are zero. True when a rotation
  // is still to be built from them.
  bool accept_extrinsics(const std::vector<double>& params, std::size_t count);
  bool in_image(double u, double v) const;
  // Throws (as `signature`) in projection-matrix mode, which cannot back-project.
  void require_pinhole(const char* signature) const;
  // Installs a world-to-camera rotation and the camera centre after checking
  // the rotation, or throws (as `signature`) with everything unchanged.
  void set_transform(const char* signature, const matrix<double>& new_inverse_rotation,
                     const std::vector<double>& centre);
  void project_pinhole(double x, double y, double z, double& u, double& v, double& disp) const;
  void project_with_proj_mats(double x, double y, double z, double& u, double& v, double& disp) const;
  // The pinhole back-projection of a visible (u, v, disp); false, outputs
  // untouched, otherwise.
  bool back_project(double u, double v, double disp, double& x, double& y, double& z) const;
};

// Text form: "camera created from specific parameters." and the lines
// "centre position=(cx,cy)", "focal lengths in pixels=(fx,fy)",
// "image size=(W,H)" and "disp_to_dist=B", then a line end and a flush.
// Extrinsics and projection matrices are not printed.
TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream& out, const Camera& camera);

// Builds the rig described by `config`: one camera per bumblebee_params entry,
// or per camera_proj_mats entry, camera i initialised with init(config, i).
// Existing cameras are re-initialised, missing ones added, surplus ones
// removed; no camera keys give an empty vector. Entries of the extrinsic lists
// beyond the rig are ignored.
// Throws exception_l, with `cameras` unchanged, when both calibration styles
// are assigned or a camera's init throws.
TREL_TOOLS_EXPORT void create_camera_vector(std::vector<Camera>& cameras, configuration& config);

}  // namespace trel

#endif
