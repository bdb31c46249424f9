#ifndef TREL_EXAMPLES_RIG_SCENE_H
#define TREL_EXAMPLES_RIG_SCENE_H

// The scene that the sample rig (examples/stereo_rig.txt) looks at, for the
// example programs: world coordinates in metres, x right, y down, z forward.

#include <vector>

#include "trel_tools/Three_d_point.h"

namespace trel_examples {

// The eight corners of a 0.8 m cube centred 3 m in front of the rig, its
// centre, a point close to the cameras, a far one, and one behind the rig that
// no camera sees. Tags are 0.
inline std::vector<trel::Three_d_point> rig_world_points() {
  std::vector<trel::Three_d_point> points;
  for (const double z : {2.6, 3.4})
    for (const double y : {-0.4, 0.4})
      for (const double x : {-0.4, 0.4}) points.emplace_back(x, y, z, 0, 0, 0);
  points.emplace_back(0.0, 0.0, 3.0, 0, 0, 0);
  points.emplace_back(0.3, -0.2, 1.5, 0, 0, 0);
  points.emplace_back(0.0, 0.0, 20.0, 0, 0, 0);
  points.emplace_back(0.0, 0.0, -1.0, 0, 0, 0);
  return points;
}

}  // namespace trel_examples

#endif
