# bench_pose_estimation runs OpenCV's solvePnPRansac next to trel::estimate_pose.
find_package(OpenCV REQUIRED COMPONENTS core calib3d)
target_link_libraries(${name} PRIVATE opencv_calib3d)
