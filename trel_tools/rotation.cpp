#include "trel_tools/rotation.h"

namespace trel {

template const matrix<double> euler_angles_rad_to_rot_mat(const std::vector<double>&);
template matrix<double> quaternion_to_rot_mat(std::vector<double>&);
template matrix<double> quaternion_to_rot_mat(const std::vector<double>&);
template std::vector<double> rot_mat_to_quaternion(matrix<double>);
template const std::vector<double> rot_vec_to_ang_axis(const std::vector<double>&);
template void enforce_ang_axis(std::vector<double>&);
template const std::vector<double> ang_axis_to_rot_vec(const std::vector<double>&);
template const std::vector<double> rot_mat_to_ang_axis_rad(const matrix<double>&);
template const std::vector<double> rot_mat_to_rot_vec_rad(const matrix<double>&);
template const matrix<double> ang_axis_rad_to_rot_mat(const std::vector<double>&);
template const matrix<double> rot_vec_rad_to_rot_mat(const std::vector<double>&);

}  // namespace trel
