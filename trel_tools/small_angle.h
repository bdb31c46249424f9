#ifndef TREL_TOOLS_SMALL_ANGLE_H
#define TREL_TOOLS_SMALL_ANGLE_H

// The thresholds at which the rotation code treats an angle, a trace or an
// axis as small: one name per use, shared by the conversions, the Jacobians
// and the gradient functions.
namespace trel {

// Rotation matrix readers: below this the trace of a matrix counts as
// exactly 3 (zero rotation) or -1 (half turn), and an off-diagonal element of
// a half turn counts as zero.
template <class T>
constexpr T kRotationSingularityTolerance = static_cast<T>(1e-12);

// Axis normalisation: an axis whose squared length is at most this is
// degenerate; it is shrunk to practically zero instead of being blown up to
// unit length.
template <class T>
constexpr T kDegenerateAxisSquaredLength = static_cast<T>(1e-16);

// Rotation Jacobians: below this ratio (n / w of a quaternion, or the angle)
// the angle factors come from their seven-term series, whose first omitted
// terms are then below 1e-16 relative; above it the closed forms lose at
// most a few units in 1e14 to cancellation.
template <class T>
constexpr T kJacobianSeriesLimit = static_cast<T>(0.1);

// Gradient functions: below this angle (radians) the rotation-vector
// coefficients sin(θ)/θ, (1 - cos θ)/θ² and their derivatives come from their
// three-term Taylor series, whose first omitted terms are below 1e-18 there;
// above it the closed forms lose at most a few parts in 1e9 to cancellation.
template <class T>
constexpr T kRotVecSeriesAngle = static_cast<T>(1e-3);

}  // namespace trel

#endif
