# The ATmega328P firmware, built with avr-gcc as it is and with each planted timing fault,
# and the simulator that traces it (libsimavr). Without both, the trace tests skip.
find_program(VIMBRA_AVR_GCC avr-gcc)
# Found directly: simavr's pkg-config file asks for libelf's, which its library does not need.
find_path(VIMBRA_SIMAVR_INCLUDE sim_avr.h PATH_SUFFIXES simavr)
find_library(VIMBRA_SIMAVR_LIBRARY simavr)
if(NOT VIMBRA_AVR_GCC OR NOT VIMBRA_SIMAVR_INCLUDE OR NOT VIMBRA_SIMAVR_LIBRARY)
  message(STATUS "avr-gcc or libsimavr not found: the firmware trace tests will skip")
  return()
endif()

add_executable(avr_trace ${CMAKE_CURRENT_LIST_DIR}/avr_trace.cpp)
# The simulator's headers are not warning-free C++; they are someone else's.
target_include_directories(avr_trace SYSTEM PRIVATE ${VIMBRA_SIMAVR_INCLUDE})
target_link_libraries(avr_trace PRIVATE ${VIMBRA_SIMAVR_LIBRARY})
# libsimavr leaves its allocations to the end of the process, which the leak checker of a
# sanitizer build would report as a failure of every trace test: the tracer, a test tool,
# is built without the sanitizers and the hardening options.
set(VIMBRA_AVR_TRACE_OPTIONS -Wall -Wextra -Wpedantic -Wshadow)
if(VIMBRA_WERROR)
  list(APPEND VIMBRA_AVR_TRACE_OPTIONS -Werror)
endif()
set_target_properties(avr_trace PROPERTIES COMPILE_OPTIONS "${VIMBRA_AVR_TRACE_OPTIONS}"
  LINK_OPTIONS "")

set(VIMBRA_AVR_SOURCE ${CMAKE_CURRENT_LIST_DIR}/hello.c)
set(VIMBRA_AVR_ELFS)
foreach(variant clean EARLY_START SHORT_RESET_WAIT NO_CLEAR_WAIT FAST_DATA SHORT_E)
  set(elf ${CMAKE_BINARY_DIR}/avr/hello-${variant}.elf)
  set(fault)
  if(NOT variant STREQUAL "clean")
    set(fault -DFAULT_${variant})
  endif()
  add_custom_command(OUTPUT ${elf}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/avr
    COMMAND ${VIMBRA_AVR_GCC} -mmcu=atmega328p -DF_CPU=16000000UL -Os -std=c11 -Wall -Wextra
            -Wpedantic -Werror ${fault} -o ${elf} ${VIMBRA_AVR_SOURCE}
    DEPENDS ${VIMBRA_AVR_SOURCE} VERBATIM)
  list(APPEND VIMBRA_AVR_ELFS ${elf})
endforeach()
add_custom_target(avr_firmware ALL DEPENDS ${VIMBRA_AVR_ELFS})

add_dependencies(vimbra_tests avr_trace avr_firmware)
target_compile_definitions(vimbra_tests PRIVATE
  VIMBRA_AVR_TRACE="$<TARGET_FILE:avr_trace>"
  VIMBRA_AVR_FIRMWARE_DIR="${CMAKE_BINARY_DIR}/avr")
