# bench_pose_refine compares whole pose refinements with OpenCV's solvePnPRefineLM and
# with Ceres. Both come in as imported targets, so their headers are SYSTEM includes.
find_package(Ceres REQUIRED)
find_package(OpenCV REQUIRED COMPONENTS core calib3d)
target_link_libraries(${name} PRIVATE Ceres::ceres opencv_calib3d)
# The Eigen rows of the linear-solve comparison (header-only).
find_package(Eigen3 3.3 REQUIRED NO_MODULE)
target_link_libraries(${name} PRIVATE Eigen3::Eigen)
