# bench_upnp calls OpenGV's UPnP directly and OpenCV's solvePnP next to trel::upnp.
find_package(opengv REQUIRED)
find_package(OpenCV REQUIRED COMPONENTS core calib3d)
target_link_libraries(${name} PRIVATE opengv opencv_calib3d)
