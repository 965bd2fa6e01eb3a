# Host Arduino sketches in CMake projects: with find_package(vimbra CONFIG), or included from
# the source tree.
#
#   vimbra_add_sketch(TARGET SKETCH file.ino [NAME name])
#     An object library holding the sketch compiled in a namespace of its own, so that one
#     program may hold several: it defines vimbra::sketches::NAME (NAME defaults to TARGET),
#     which a test declares with VIMBRA_DECLARE_SKETCH(NAME) and runs with
#     vimbra::arduino::run (vimbra_sketch.h).
#
#   vimbra_add_sketch_test(NAME SKETCH file.ino REFERENCES folder [STIMULUS file] [RUN time]
#                          [PROFILE file] [FONT file] [START_US n] [WALL_LIMIT ms])
#     Builds the sketch, runs it for RUN (10s by default) with the stimulus, and compares the
#     screen at each mark with REFERENCES/MARK.png: one CTest test NAME/MARK for each picture
#     in the folder, and NAME/marks, which checks that every mark of the log has its picture
#     and every picture its mark. VIMBRA_UPDATE=1 in the environment writes the pictures that
#     are missing or differ. A failure's line names the differing cells.
include_guard(GLOBAL)

set(VIMBRA_SKETCH_CHECK_SOURCE ${CMAKE_CURRENT_LIST_DIR}/vimbra_sketch_check.cpp)

function(vimbra_add_sketch target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "SKETCH;NAME" "")
  if(NOT ARG_SKETCH)
    message(FATAL_ERROR "vimbra_add_sketch(${target}): SKETCH is missing")
  endif()
  if(NOT ARG_NAME)
    set(ARG_NAME ${target})
  endif()
  string(MAKE_C_IDENTIFIER "${ARG_NAME}" name)
  get_filename_component(sketch "${ARG_SKETCH}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT EXISTS "${sketch}")
    message(FATAL_ERROR "vimbra_add_sketch(${target}): no sketch ${sketch}")
  endif()
  # The environment's headers come first, with the standard library's usual ones, so that the
  # sketch's own includes of them inside the namespace find them already there.
  set(wrapper "${CMAKE_CURRENT_BINARY_DIR}/vimbra_sketches/${target}.cpp")
  file(CONFIGURE OUTPUT "${wrapper}" CONTENT [=[
// Made by vimbra_add_sketch: the sketch @sketch@ in a namespace of its own.
#define VIMBRA_ARDUINO_NO_MAIN
#include <Arduino.h>
#include <EEPROM.h>
#include <LiquidCrystal.h>
#include <LiquidCrystal_I2C.h>
#include <Wire.h>
#include <vimbra_sketch.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vimbra_sketch_@name@ {
#include "@sketch@"
} // namespace vimbra_sketch_@name@

namespace vimbra::sketches {
extern const ::vimbra::arduino::sketch @name@;
const ::vimbra::arduino::sketch @name@{"@ARG_NAME@", &::vimbra_sketch_@name@::setup,
                                       &::vimbra_sketch_@name@::loop};
} // namespace vimbra::sketches
]=] @ONLY)
  add_library(${target} OBJECT "${wrapper}")
  target_link_libraries(${target} PUBLIC vimbra::arduino)
  # As the Arduino tools build a sketch: C++17, where idioms such as `+=` on a volatile are
  # not yet deprecated.
  set_target_properties(${target} PROPERTIES CXX_STANDARD 17 CXX_STANDARD_REQUIRED ON)
endfunction()

function(vimbra_add_sketch_test name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG ""
    "SKETCH;REFERENCES;STIMULUS;RUN;PROFILE;FONT;START_US;WALL_LIMIT" "")
  if(NOT ARG_SKETCH OR NOT ARG_REFERENCES)
    message(FATAL_ERROR "vimbra_add_sketch_test(${name}): SKETCH and REFERENCES are needed")
  endif()
  string(MAKE_C_IDENTIFIER "${name}" id)
  vimbra_add_sketch(${id}_sketch SKETCH "${ARG_SKETCH}" NAME ${id})
  add_executable(${id}_screens "${VIMBRA_SKETCH_CHECK_SOURCE}")
  target_compile_definitions(${id}_screens PRIVATE VIMBRA_CHECK_SKETCH=${id})
  target_link_libraries(${id}_screens PRIVATE ${id}_sketch vimbra::arduino vimbra::vimbra)
  # vimbra.hpp wants C++20.
  set_target_properties(${id}_screens PROPERTIES CXX_STANDARD 20 CXX_STANDARD_REQUIRED ON)

  get_filename_component(references "${ARG_REFERENCES}" ABSOLUTE
    BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  set(args --name "${name}" --references "${references}")
  foreach(option STIMULUS PROFILE FONT)
    if(ARG_${option})
      get_filename_component(path "${ARG_${option}}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
      string(TOLOWER ${option} flag)
      list(APPEND args --${flag} "${path}")
    endif()
  endforeach()
  if(ARG_RUN)
    list(APPEND args --run ${ARG_RUN})
  endif()
  if(ARG_START_US)
    list(APPEND args --start-us ${ARG_START_US})
  endif()
  if(ARG_WALL_LIMIT)
    list(APPEND args --wall-limit ${ARG_WALL_LIMIT})
  endif()
  # A test for each picture there is; a new picture (or folder) configures again.
  file(GLOB pictures LIST_DIRECTORIES false "${references}/*.png")
  if(EXISTS "${references}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${references}")
  endif()
  list(SORT pictures)
  foreach(picture IN LISTS pictures)
    get_filename_component(file "${picture}" NAME)
    string(REGEX REPLACE "\\.png$" "" mark "${file}")
    add_test(NAME "${name}/${mark}" COMMAND ${id}_screens ${args} -- "${mark}")
  endforeach()
  add_test(NAME "${name}/marks" COMMAND ${id}_screens ${args} --marks)
endfunction()
