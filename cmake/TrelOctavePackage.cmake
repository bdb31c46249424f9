# cmake -P script: stages and packs the Octave package tarball.
#   -DSOURCE_DIR=<repo> -DSTAGE=<folder> -DTARBALL=<file.tar.gz>
#   -DCORE_SOURCES=<trel_tools/*.cpp files separated by |> -DDESCRIPTION=<generated file>
#   -DEXPORT_HEADER=<the generated trel_tools/export.h>
set(pkg ${STAGE}/camera_pose_refine)
string(REPLACE "|" ";" CORE_SOURCES "${CORE_SOURCES}")
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${pkg}/src/trel_tools ${pkg}/src/trel_pose ${pkg}/inst)
file(COPY ${DESCRIPTION} ${SOURCE_DIR}/packaging/octave/INDEX ${SOURCE_DIR}/packaging/octave/post_install.m
  DESTINATION ${pkg})
file(COPY ${SOURCE_DIR}/LICENSE DESTINATION ${pkg})
file(RENAME ${pkg}/LICENSE ${pkg}/COPYING)
file(COPY ${SOURCE_DIR}/camera_pose_refine/camera_pose_refine.m ${SOURCE_DIR}/camera_pose_refine/camera_pose_refine_batch.m
  ${SOURCE_DIR}/camera_pose_refine/camera_pose_estimate.m ${SOURCE_DIR}/camera_pose_refine/camera_rig_pose_estimate.m
  DESTINATION ${pkg}/inst)
file(COPY ${SOURCE_DIR}/packaging/octave/Makefile DESTINATION ${pkg}/src)
file(WRITE ${pkg}/src/mex_exports.map "{ global: mexFunction; local: *; };\n")
file(COPY ${CORE_SOURCES} DESTINATION ${pkg}/src/trel_tools)
# camera_pose_estimate.mex only: estimate_pose, which needs OpenGV.
file(COPY ${SOURCE_DIR}/trel_pose/pose_estimation.cpp ${SOURCE_DIR}/trel_tools/opengv_wrapper.cpp
  DESTINATION ${pkg}/src/estimate)
file(GLOB headers ${SOURCE_DIR}/trel_tools/*.h)
file(COPY ${headers} ${EXPORT_HEADER} DESTINATION ${pkg}/src/trel_tools)
file(COPY ${SOURCE_DIR}/trel_opt ${SOURCE_DIR}/camera_pose_refine DESTINATION ${pkg}/src
  FILES_MATCHING PATTERN "*.h" PATTERN "*.cpp")
# camera_rig_pose_estimate.mex only: the rig and its estimation (OpenGV's gp3p).
file(COPY ${SOURCE_DIR}/trel_pose/rig.cpp ${SOURCE_DIR}/trel_pose/rig_estimation.cpp DESTINATION ${pkg}/src/rig)
# The pose part whole, but for pose_estimation.cpp and the rig's files (in estimate/
# and rig/ above; the rig of configured cameras is the library's alone).
file(COPY ${SOURCE_DIR}/trel_pose DESTINATION ${pkg}/src
  FILES_MATCHING PATTERN "*.h" PATTERN "*.cpp" PATTERN "pose_estimation.cpp" EXCLUDE
  PATTERN "rig.cpp" EXCLUDE PATTERN "rig_cameras.cpp" EXCLUDE PATTERN "rig_estimation.cpp" EXCLUDE)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${TARBALL} camera_pose_refine
  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${TARBALL}")
endif()
