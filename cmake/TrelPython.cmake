# ---- the Python module `trel` (pybind11) -----------------------------------------
# Built when pybind11 and the Python development files are found (Debian:
# pybind11-dev, python3-dev). The module goes into the system Python's
# architecture-specific site directory, taken relative to that Python's prefix
# so that the same tree lands below CMAKE_INSTALL_PREFIX (Debian:
# lib/python3/dist-packages).
# The system's own interpreter (it has the Debian numpy), not one earlier on PATH.
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 QUIET COMPONENTS Interpreter Development.Module)
if(Python3_FOUND)
  find_package(pybind11 CONFIG QUIET)
endif()
# A plain interpreter cannot load a module built with the sanitizers: off there.
if(Python3_FOUND AND pybind11_FOUND AND NOT TREL_SANITIZE)
  set(TREL_PYTHON_DEFAULT ON)
else()
  set(TREL_PYTHON_DEFAULT OFF)
endif()
option(TREL_BUILD_PYTHON "Build the Python module trel (needs pybind11 and the Python headers)" ${TREL_PYTHON_DEFAULT})
if(NOT TREL_BUILD_PYTHON)
  return()
endif()
if(NOT Python3_FOUND OR NOT pybind11_FOUND)
  message(FATAL_ERROR "TREL_BUILD_PYTHON needs pybind11 and the Python 3 headers: install pybind11-dev and python3-dev.")
endif()

set(TREL_PYTHON_SOURCES trel_module.cpp bind_camera.cpp bind_configuration.cpp bind_pose.cpp bind_pose_batch.cpp
  bind_rotation.cpp bind_rig.cpp)
list(TRANSFORM TREL_PYTHON_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/python/)
# NO_EXTRAS: no link-time optimisation, which only slows the build of these thin wrappers.
# The package trel: python/trel/ (__init__.py, the stubs __init__.pyi, py.typed)
# with the compiled module trel._trel. In the build tree it is assembled in
# <build>/python/trel, so that PYTHONPATH=<build>/python imports it.
pybind11_add_module(trel_python NO_EXTRAS ${TREL_PYTHON_SOURCES})
set(TREL_PYTHON_PACKAGE_FILES __init__.py __init__.pyi py.typed)
list(TRANSFORM TREL_PYTHON_PACKAGE_FILES PREPEND ${PROJECT_SOURCE_DIR}/python/trel/)
set_target_properties(trel_python PROPERTIES
  OUTPUT_NAME _trel
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/python/trel)
target_include_directories(trel_python PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(trel_python PRIVATE trel_tools)
target_compile_definitions(trel_python PRIVATE TREL_VERSION_TEXT="${PROJECT_VERSION}")
add_custom_command(TARGET trel_python POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TREL_PYTHON_PACKAGE_FILES} ${PROJECT_BINARY_DIR}/python/trel/)
# The folder to put on PYTHONPATH for the build tree's package.
set(TREL_PYTHON_BUILD_DIR ${PROJECT_BINARY_DIR}/python)

# Where the system Python looks, relative to its own prefix.
execute_process(COMMAND ${Python3_EXECUTABLE} -c
  "import sys, sysconfig; print(sysconfig.get_path('platlib', vars={'base': sys.base_prefix, 'platbase': sys.base_prefix}))"
  OUTPUT_VARIABLE TREL_PYTHON_PLATLIB OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND ${Python3_EXECUTABLE} -c "import sys; print(sys.base_prefix)"
  OUTPUT_VARIABLE TREL_PYTHON_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
# Debian's own modules live in dist-packages, which sysconfig does not report.
if(EXISTS /etc/debian_version AND TREL_PYTHON_PREFIX STREQUAL "/usr")
  set(TREL_PYTHON_DEFAULT_DIR lib/python3/dist-packages)
elseif(TREL_PYTHON_PLATLIB AND TREL_PYTHON_PREFIX)
  file(RELATIVE_PATH TREL_PYTHON_DEFAULT_DIR ${TREL_PYTHON_PREFIX} ${TREL_PYTHON_PLATLIB})
else()
  set(TREL_PYTHON_DEFAULT_DIR ${CMAKE_INSTALL_LIBDIR}/python3/site-packages)
endif()
set(TREL_INSTALL_PYTHONDIR ${TREL_PYTHON_DEFAULT_DIR} CACHE STRING
  "Directory of the Python module, relative to the install prefix")
# The installed module finds libtrel_tools in the prefix's library directory.
file(RELATIVE_PATH TREL_PYTHON_TO_LIB /${TREL_INSTALL_PYTHONDIR}/trel /${CMAKE_INSTALL_LIBDIR})
set_target_properties(trel_python PROPERTIES INSTALL_RPATH "$ORIGIN/${TREL_PYTHON_TO_LIB}")
install(TARGETS trel_python LIBRARY DESTINATION ${TREL_INSTALL_PYTHONDIR}/trel)
install(FILES ${TREL_PYTHON_PACKAGE_FILES} DESTINATION ${TREL_INSTALL_PYTHONDIR}/trel)
