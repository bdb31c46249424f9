# Every install rule of trel: the library and its CMake package, the plug-in core for
# C++ users, the headers, the MEX plug-in, pkg-config; the Debian package and the
# Octave package. Included by the top-level CMakeLists.txt before the tests, which
# use its targets.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# ---- trel::trel_tools and trel::camera_pose_refine_core ----------------------------
# The plug-in core is a static library with its own copy of the core (matrix,
# rotation, I/O): linking it and trel_tools into one binary would give two
# definitions of the same symbols.
install(TARGETS trel_tools camera_pose_refine_core EXPORT trelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(dir trel_tools trel_opt trel_pose camera_pose_refine)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    FILES_MATCHING PATTERN "*.h" PATTERN "*_internal.h" EXCLUDE)
endforeach()
install(FILES ${TREL_EXPORT_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/trel_tools)

# ---- find_package(trel) from another project ---------------------------------------
install(EXPORT trelTargets NAMESPACE trel:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/trel)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/trelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/trelConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/trel)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/trelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/trelConfig.cmake ${PROJECT_BINARY_DIR}/trelConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/trel)

# ---- the MEX plug-in and its help text, where Octave looks for them ---------------
# Octave puts its site directory for compiled functions on every user's path. It is
# asked for at configure time and taken relative to Octave's own prefix, so the
# Debian package (under /usr) lands exactly there and `cmake --install --prefix`
# puts the same tree below its prefix. Without octave-config the files go to a
# folder of their own, for addpath().
# ---- the Python package trel: installed by TrelPython.cmake -------------------------

if(TARGET camera_pose_refine)
  find_program(TREL_OCTAVE_CONFIG NAMES octave-config)
  set(TREL_OCTAVE_SITE_DIR "")
  if(TREL_OCTAVE_CONFIG)
    execute_process(COMMAND ${TREL_OCTAVE_CONFIG} --oct-site-dir
      OUTPUT_VARIABLE TREL_OCTAVE_SITE_DIR OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${TREL_OCTAVE_CONFIG} -p OCTAVE_HOME
      OUTPUT_VARIABLE TREL_OCTAVE_HOME OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  set(TREL_OCTAVE_DEFAULT_DIR ${CMAKE_INSTALL_DATADIR}/trel/octave)
  set(TREL_OCTAVE_SITE_AT -1)
  if(TREL_OCTAVE_SITE_DIR AND TREL_OCTAVE_HOME)
    string(FIND "${TREL_OCTAVE_SITE_DIR}" "${TREL_OCTAVE_HOME}/" TREL_OCTAVE_SITE_AT)
  endif()
  if(TREL_OCTAVE_SITE_AT EQUAL 0)
    file(RELATIVE_PATH TREL_OCTAVE_DEFAULT_DIR ${TREL_OCTAVE_HOME} ${TREL_OCTAVE_SITE_DIR})
  endif()
  set(TREL_INSTALL_OCTDIR ${TREL_OCTAVE_DEFAULT_DIR} CACHE STRING
    "Install folder of camera_pose_refine.mex and its help file, relative to the prefix")
  install(TARGETS camera_pose_refine camera_pose_refine_batch LIBRARY DESTINATION ${TREL_INSTALL_OCTDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/camera_pose_refine/camera_pose_refine.m
    ${PROJECT_SOURCE_DIR}/camera_pose_refine/camera_pose_refine_batch.m
    DESTINATION ${TREL_INSTALL_OCTDIR})
endif()
# camera_pose_estimate.mex beside it; it finds the installed libtrel_tools.so
# through an RPATH relative to its own folder, so it works under any prefix.
if(TARGET camera_pose_estimate)
  file(RELATIVE_PATH TREL_OCT_TO_LIB /root/${TREL_INSTALL_OCTDIR} /root/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(camera_pose_estimate PROPERTIES INSTALL_RPATH "$ORIGIN/${TREL_OCT_TO_LIB}")
  install(TARGETS camera_pose_estimate LIBRARY DESTINATION ${TREL_INSTALL_OCTDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/camera_pose_refine/camera_pose_estimate.m
    DESTINATION ${TREL_INSTALL_OCTDIR})
endif()
if(TARGET camera_rig_pose_estimate)
  set_target_properties(camera_rig_pose_estimate PROPERTIES INSTALL_RPATH "$ORIGIN/${TREL_OCT_TO_LIB}")
  install(TARGETS camera_rig_pose_estimate LIBRARY DESTINATION ${TREL_INSTALL_OCTDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/camera_pose_refine/camera_rig_pose_estimate.m
    DESTINATION ${TREL_INSTALL_OCTDIR})
endif()

# ---- pkg-config: trel_tools.pc -------------------------------------------------
# Paths are relative to the file itself, so the same file serves every prefix
# (cmake --install --prefix, the Debian package).
set(TREL_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH TREL_PC_TO_PREFIX /root/${TREL_PC_DIR} /root)
file(WRITE ${PROJECT_BINARY_DIR}/trel_tools.pc.in [=[
prefix=${pcfiledir}/@TREL_PC_TO_PREFIX@
libdir=${prefix}/@CMAKE_INSTALL_LIBDIR@
includedir=${prefix}/@CMAKE_INSTALL_INCLUDEDIR@

Name: trel_tools
Description: trel computer-vision toolkit: configuration, rotations, matrices, OpenCV text I/O
Version: @PROJECT_VERSION@
Requires: opencv4
Libs: -L${libdir} -ltrel_tools
Cflags: -I${includedir}
]=])
configure_file(${PROJECT_BINARY_DIR}/trel_tools.pc.in ${PROJECT_BINARY_DIR}/trel_tools.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/trel_tools.pc DESTINATION ${TREL_PC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- cpack -G DEB ----------------------------------------------------------------
# Only for trel itself: a parent project keeps its own package settings.
if(TREL_IS_TOP_LEVEL)
  set(CPACK_PACKAGE_NAME trel)
  set(CPACK_PACKAGE_VENDOR "The trel developers")
  set(CPACK_PACKAGE_CONTACT "The trel developers <trel@localhost>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "trel computer-vision toolkit: trel_tools library and camera_pose_refine plug-in")
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # The run-time dependencies are read off the packaged binaries by dpkg-shlibdeps;
  # named here are only the packages that building against the installed headers
  # and CMake package needs (trelConfig.cmake looks for OpenCV, OpenGV and Eigen).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libopencv-dev, libopengv-dev, libeigen3-dev")
  if(TARGET trel_python)
    # The module imports numpy; the interpreter itself is not a shared library it links.
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", python3, python3-numpy")
  endif()
  include(CPack)
endif()

# ---- the Octave package: cmake --build <dir> --target octave_package ----------------
# camera_pose_refine-<version>.tar.gz, for `pkg install`. It carries the sources of
# the plug-in and a src/Makefile that builds the .mex with mkoctfile --mex.
string(TIMESTAMP TREL_PACKAGE_DATE "%Y-%m-%d" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/octave/DESCRIPTION.in
  ${PROJECT_BINARY_DIR}/octave_package/DESCRIPTION @ONLY)
set(TREL_OCTAVE_PACKAGE ${PROJECT_BINARY_DIR}/camera_pose_refine-${PROJECT_VERSION}.tar.gz)
# The package's sources: the plug-in's copy of the core, the framework, the cost
# functions, the entry and its Octave adapter, with every header beside them.
set(TREL_OCTAVE_PACKAGE_SOURCES ${TREL_CORE_SOURCES} ${TREL_OPT_SOURCES} ${TREL_POSE_COST_SOURCES}
  ${TREL_PLUGIN_ENTRY_SOURCES} camera_pose_refine/mex_octave.cpp camera_pose_refine/mex_camera_pose_refine.cpp
  camera_pose_refine/mex_camera_pose_refine_batch.cpp
  camera_pose_refine/camera_pose_estimate.cpp camera_pose_refine/mex_camera_pose_estimate.cpp
  trel_pose/pose_estimation.cpp trel_tools/opengv_wrapper.cpp
  camera_pose_refine/camera_rig_pose_estimate.cpp camera_pose_refine/mex_camera_rig_pose_estimate.cpp
  trel_pose/rig.cpp trel_pose/rig_estimation.cpp trel_pose/rig_pose.cpp)
list(TRANSFORM TREL_OCTAVE_PACKAGE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
# Those of them under trel_tools/ are copied one by one; trel_opt/, trel_pose/ and
# camera_pose_refine/ are copied whole.
set(TREL_CORE_SOURCE_PATHS ${TREL_CORE_SOURCES} ${TREL_POSE_COST_SOURCES})
list(FILTER TREL_CORE_SOURCE_PATHS INCLUDE REGEX "^trel_tools/")
list(TRANSFORM TREL_CORE_SOURCE_PATHS PREPEND ${PROJECT_SOURCE_DIR}/)
string(REPLACE ";" "|" TREL_CORE_SOURCE_BAR_LIST "${TREL_CORE_SOURCE_PATHS}")
set(TREL_OCTAVE_PACKAGE_FILES DESCRIPTION.in INDEX Makefile post_install.m)
list(TRANSFORM TREL_OCTAVE_PACKAGE_FILES PREPEND ${PROJECT_SOURCE_DIR}/packaging/octave/)
add_custom_command(OUTPUT ${TREL_OCTAVE_PACKAGE}
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DSTAGE=${PROJECT_BINARY_DIR}/octave_package/stage
    -DTARBALL=${TREL_OCTAVE_PACKAGE} -DCORE_SOURCES=${TREL_CORE_SOURCE_BAR_LIST}
    -DEXPORT_HEADER=${TREL_EXPORT_HEADER}
    -DDESCRIPTION=${PROJECT_BINARY_DIR}/octave_package/DESCRIPTION
    -P ${PROJECT_SOURCE_DIR}/cmake/TrelOctavePackage.cmake
  DEPENDS ${TREL_OCTAVE_PACKAGE_FILES} ${TREL_OCTAVE_PACKAGE_SOURCES} ${TREL_EXPORT_HEADER}
    ${PROJECT_SOURCE_DIR}/camera_pose_refine/camera_pose_refine.m ${PROJECT_SOURCE_DIR}/LICENSE
    ${PROJECT_SOURCE_DIR}/cmake/TrelOctavePackage.cmake
  IMPLICIT_DEPENDS CXX ${TREL_OCTAVE_PACKAGE_SOURCES}
  COMMENT "Packing ${TREL_OCTAVE_PACKAGE}" VERBATIM)
add_custom_target(octave_package DEPENDS ${TREL_OCTAVE_PACKAGE})
