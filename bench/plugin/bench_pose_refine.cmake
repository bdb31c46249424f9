# bench_pose_refine compares whole pose refinements with OpenCV's solvePnPRefineLM and
# with Ceres. Both come in as imported targets, so their headers are SYSTEM includes.
find_package(Ceres REQUIRED)
find_package(OpenCV REQUIRED COMPONENTS core calib3d)
target_link_libraries(${name} PRIVATE Ceres::ceres opencv_calib3d)
