#include "camera_pose_refine/camera_position_rotation_codes.h"

#include "camera_pose_refine/camera_position_grad_funcs.h"
#include "camera_pose_refine/camera_position_hybrid_grad_funcs.h"

namespace trel {

namespace {

// The single-parameterisation classes take (base, points, K).
template <class Grad>
std::unique_ptr<Grad_func> make_single(Opt_func* base, const std::vector<std::vector<double>>& points,
                                       const matrix<double>& K) {
  return std::make_unique<Grad>(base, points, K);
}

// The hybrids take (points, K, base).
template <class Grad>
std::unique_ptr<Grad_func> make_hybrid(Opt_func* base, const std::vector<std::vector<double>>& points,
                                       const matrix<double>& K) {
  return std::make_unique<Grad>(points, K, base);
}

constexpr Rotation_form kRotVec = Rotation_form::rot_vec;
constexpr Rotation_form kAngAxis = Rotation_form::ang_axis;
constexpr Rotation_form kQuaternion = Rotation_form::quaternion;

const std::array<Rotation_code, kNumRotationCodes> kRotationCodes = {{
    {0, "aau", kRotVec, 3, 2, 1, &make_single<Camera_position_grad_func_aau>},
    {1, "aan", kAngAxis, 4, 2, 1, &make_single<Camera_position_grad_func_aan>},
    {2, "qu", kQuaternion, 4, 2, 1, &make_single<Camera_position_grad_func_qu>},
    {3, "qn", kQuaternion, 4, 2, 1, &make_single<Camera_position_grad_func_qn>},
    {10, "aau-bv", kRotVec, 3, 3, 1, &make_single<Camera_position_grad_func_aau_bv>},
    {11, "aan-bv", kAngAxis, 4, 3, 1, &make_single<Camera_position_grad_func_aan_bv>},
    {12, "qu-bv", kQuaternion, 4, 3, 1, &make_single<Camera_position_grad_func_qu_bv>},
    {-1, "qu,aau,aan", kQuaternion, 4, 2, 3, &make_hybrid<Camera_position_grad_func_qu_aau_aan>},
    {-2, "aau,qu,aan", kRotVec, 3, 2, 3, &make_hybrid<Camera_position_grad_func_aau_qu_aan>},
    {-3, "aan,qu,aau", kAngAxis, 4, 2, 3, &make_hybrid<Camera_position_grad_func_aan_qu_aau>},
}};

}  // namespace

const std::array<Rotation_code, kNumRotationCodes>& rotation_codes() { return kRotationCodes; }

const Rotation_code* find_rotation_code(int code) {
  for (const Rotation_code& entry : kRotationCodes)
    if (entry.code == code) return &entry;
  return nullptr;
}

}  // namespace trel
