# The C++ library as an installed package: the static library, the API header, a CMake
# package (find_package(vimbra CONFIG) gives vimbra::vimbra), vimbra.pc for pkg-config, and
# the Debian package libvimbra-dev beside the tool's. Included by the top-level list.
include(CMakePackageConfigHelpers)

set(VIMBRA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vimbra)
install(TARGETS vimbra EXPORT vimbraTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  COMPONENT dev)
install(FILES include/vimbra/vimbra.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vimbra
  COMPONENT dev)
install(EXPORT vimbraTargets NAMESPACE vimbra:: DESTINATION ${VIMBRA_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(packaging/vimbraConfig.cmake.in
  ${CMAKE_BINARY_DIR}/vimbraConfig.cmake INSTALL_DESTINATION ${VIMBRA_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/vimbraConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/vimbraConfig.cmake ${CMAKE_BINARY_DIR}/vimbraConfigVersion.cmake
  DESTINATION ${VIMBRA_CMAKE_DIR} COMPONENT dev)
# vimbra::arduino comes with the host Arduino environment, in the tool's package; the functions
# that build and check sketches (vimbra_add_sketch, vimbra_add_sketch_test) need both.
install(EXPORT vimbraArduinoTargets NAMESPACE vimbra:: DESTINATION ${VIMBRA_CMAKE_DIR})
install(FILES packaging/vimbraSketch.cmake packaging/vimbra_sketch_check.cpp
  DESTINATION ${VIMBRA_CMAKE_DIR} COMPONENT dev)
configure_file(packaging/vimbra.pc.in ${CMAKE_BINARY_DIR}/vimbra.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vimbra.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT dev)
# Every Debian package carries its copyright file and changelog in a folder of its own.
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libvimbra-dev COMPONENT dev)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool dev)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME vimbracli)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvimbra-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "zlib1g-dev, libpng-dev, libminizip-dev, vimbracli (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
# CPack puts the one summary line above each package's own description.
set(CPACK_COMPONENT_TOOL_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "The static library and C++ header of vimbracli, for host-side tests of
firmware: a test opens a module from an LCD profile and font, feeds it rows
or a command log or drives its controller byte by byte, and asks the screen
what it shows: its text rows, the cursor, the pixels, PNG bytes, and the
cells that differ from a reference picture. A CMake package (vimbra::vimbra)
and a pkg-config file are included, with CMake functions that turn Arduino
sketches, a stimulus and reference pictures into CTest tests.")
# No compiler version notes in the library's objects, as the tool's are stripped of them.
target_compile_options(vimbra PRIVATE -fno-ident)
