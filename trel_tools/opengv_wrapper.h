#ifndef TREL_TOOLS_OPENGV_WRAPPER_H
#define TREL_TOOLS_OPENGV_WRAPPER_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "trel_tools/export.h"
#include "trel_tools/matrix.h"

namespace trel {

// Absolute pose of a calibrated camera from 2-D/3-D correspondences with
// OpenGV's UPnP solver.
//
// points_2d: N x 2, row j the pixel (u, v) of observation j (u = column).
// points_3d: N x 3, row j the world point seen at row j of points_2d.
// K:         3 x 3 intrinsic matrix, invertible; observation j becomes the
//            unit bearing vector along K^-1 (u_j, v_j, 1).
// Pose (R, t): R (3 x 3) is the camera's orientation, turning camera axes into
// world axes; t (3 values) is the camera centre in world coordinates. A world
// point X lies at R^T (X - t) in the camera frame.
//
// Checks, in this order, each throwing exception_l before anything is built:
// points_3d has 3 columns; points_2d has 2 columns; both have the same number
// of rows; there are at least kUpnpMinPoints of them; K is 3 x 3; every value
// of the points and of K is finite; K can be inverted; a given start pose is
// 3 x 3 and 3 values; the bearing vectors are not all parallel; the 3-D points
// have an extent UPnP can work with (detail::upnp_point_degeneracy).
constexpr unsigned kUpnpMinPoints = 3;
// The 3-D points' extent: the largest coordinate of the points less their
// centroid. Coincident: the extent is 0 or at most kUpnpCoincidentTolerance
// times the centroid's largest coordinate. Out of range: the extent's fourth
// power, formed by the solver's polynomial terms, underflows or overflows a
// double (an extent below about 1.2e-77 or above about 1.1e77; at 1e-200
// OpenGV's Gauss-Jordan elimination crashes). Collinear: the second principal
// spread of the centred points at most kUpnpCollinearTolerance times the first
// (as with all but one point coincident): the rotation about that line is
// undetermined and the solver's elimination breaks down.
constexpr double kUpnpCoincidentTolerance = 1e-12;
constexpr double kUpnpCollinearTolerance = 1e-6;

// All candidates, in the solver's order: rotation k and translation k form
// candidate k; both vectors are resized to the candidate count. When both are
// non-empty on entry, their first elements (a 3 x 3 rotation and 3 values) are
// given to the solver's adapter as its rotation and translation first. Errors
// pass unchanged.
TREL_TOOLS_EXPORT void upnp(const matrix<double>& points_2d, const matrix<double>& points_3d, const matrix<double>& K,
                            std::vector<matrix<double>>& rotations, std::vector<std::vector<double>>& translations);

// The candidate with the smallest sum over all points of the squared pixel
// residual of the reprojection; a candidate that puts any point at or behind
// the camera (camera-frame depth not above zero), or gives a non-finite sum,
// scores infinity. When R is 3 x 3 and t has 3 values on entry, they are the
// start pose given to the adapter. No candidate at all: R becomes 0 x 0 and t
// empty. Throws exception_l when every candidate scores infinity. Guarded:
// every error, the checks above included, comes wrapped in this function's
// frame (a caught exception_l one level deeper, another std::exception at
// depth 0); R and t are then unchanged.
TREL_TOOLS_EXPORT void upnp(const matrix<double>& points_2d, const matrix<double>& points_3d, const matrix<double>& K,
                            matrix<double>& R, std::vector<double>& t);

namespace detail {

// What the solver's adapter holds just before the solve, read back through
// its getters: one row per correspondence, and its rotation and translation.
struct Upnp_adapter_contents {
  matrix<double> bearing_vectors;  // N x 3, unit length
  matrix<double> points;           // N x 3, world frame
  matrix<double> rotation;         // 3 x 3
  std::vector<double> translation; // 3 values
};
using Upnp_adapter_probe = std::function<void(const Upnp_adapter_contents&)>;

// The all-candidates upnp with a probe called (when set) right before the
// solve, for tests and diagnostics.
TREL_TOOLS_EXPORT void upnp_probed(const matrix<double>& points_2d, const matrix<double>& points_3d,
                                   const matrix<double>& K, std::vector<matrix<double>>& rotations,
                                   std::vector<std::vector<double>>& translations, const Upnp_adapter_probe& probe);

// Why UPnP cannot be run on these world points (see kUpnpCoincidentTolerance),
// as the text of the error; empty when they are fit.
TREL_TOOLS_EXPORT std::string upnp_point_degeneracy(const std::vector<std::vector<double>>& points);

// The selection of the best-candidate upnp over given candidates (inputs
// checked by the caller). Sets R and t to the chosen candidate, or empties
// both when there is none; throws exception_l when every candidate scores
// infinity.
TREL_TOOLS_EXPORT void select_best_candidate(const matrix<double>& points_2d, const matrix<double>& points_3d,
                                             const matrix<double>& K, const std::vector<matrix<double>>& rotations,
                                             const std::vector<std::vector<double>>& translations,
                                             matrix<double>& R, std::vector<double>& t);

}  // namespace detail
}  // namespace trel

#endif
