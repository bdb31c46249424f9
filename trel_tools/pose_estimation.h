#include "trel_pose/pose_estimation.h"  // moved to trel_pose/; this path forwards there through the 0.x releases
