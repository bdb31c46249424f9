# trel_add_test(NAME <area/name>
#               [SRCS <files...> [LINK <targets...>] [LAUNCHER <program args...>]]
#               [COMMAND <program args...>] [WORKING_DIRECTORY <dir>]
#               [ENVIRONMENT <VAR=value...>] [TIMEOUT <seconds>] [LABELS <labels...>]
#               [FIXTURES_SETUP <names...>] [FIXTURES_REQUIRED <names...>])
# Registers one CTest test named area/name; every test of trel goes through here.
#  - With SRCS it builds the GoogleTest program test_<area>_<name> from them, linked
#    with LINK, and runs it in the current binary folder, behind LAUNCHER if given
#    (e.g. a virtual X server).
#  - With COMMAND it runs that command instead (a script, Octave, a replay program).
function(trel_add_test)
  cmake_parse_arguments(T "" "NAME;WORKING_DIRECTORY;TIMEOUT"
    "SRCS;LINK;LAUNCHER;COMMAND;ENVIRONMENT;LABELS;FIXTURES_SETUP;FIXTURES_REQUIRED" ${ARGN})
  if(NOT T_NAME)
    message(FATAL_ERROR "trel_add_test: NAME is required")
  endif()
  if(T_SRCS AND T_COMMAND)
    message(FATAL_ERROR "trel_add_test(${T_NAME}): SRCS or COMMAND, not both")
  endif()
  if(T_SRCS)
    string(REPLACE "/" "_" exe "test_${T_NAME}")
    add_executable(${exe} ${T_SRCS})
    target_link_libraries(${exe} PRIVATE ${T_LINK} GTest::gtest GTest::gtest_main Threads::Threads)
    target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR})
    if(T_LAUNCHER)
      set(T_COMMAND ${T_LAUNCHER} $<TARGET_FILE:${exe}>)
    else()
      set(T_COMMAND ${exe})
      if(NOT T_WORKING_DIRECTORY)
        set(T_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
      endif()
    endif()
  elseif(NOT T_COMMAND)
    message(FATAL_ERROR "trel_add_test(${T_NAME}): SRCS or COMMAND is required")
  endif()
  if(T_WORKING_DIRECTORY)
    add_test(NAME ${T_NAME} COMMAND ${T_COMMAND} WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  endif()
  foreach(prop ENVIRONMENT TIMEOUT LABELS FIXTURES_SETUP FIXTURES_REQUIRED)
    if(DEFINED T_${prop})
      set_property(TEST ${T_NAME} PROPERTY ${prop} ${T_${prop}})
    endif()
  endforeach()
endfunction()
