#ifndef TESTS_PLUGIN_ROTATION_CODE_LIST_H
#define TESTS_PLUGIN_ROTATION_CODE_LIST_H

#include <vector>

#include "camera_pose_refine/camera_position_rotation_codes.h"

namespace trel_test {

// Every rotation code of the table, in its order, for value-parameterised tests.
inline std::vector<int> all_rotation_codes() {
  std::vector<int> codes;
  for (const trel::Rotation_code& entry : trel::rotation_codes()) codes.push_back(entry.code);
  return codes;
}

// The table's entry of a code the test knows to exist.
inline const trel::Rotation_code& rotation_code(int code) { return *trel::find_rotation_code(code); }

}  // namespace trel_test

#endif
