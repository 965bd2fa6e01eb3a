# zlib's minizip for the WebAssembly build, as the target vimbra_minizip: its unzip side, taken
# from the same binutils-source tarball as zlib (web/zlib.cmake) into the build folder, so that
# the page reads sigrok sessions with the code the tool uses from Debian's libminizip.

set(VIMBRA_MINIZIP_DIR ${CMAKE_BINARY_DIR}/minizip/minizip)
if(NOT EXISTS ${VIMBRA_MINIZIP_DIR}/unzip.h)
  file(MAKE_DIRECTORY ${VIMBRA_MINIZIP_DIR})
  execute_process(
    COMMAND tar -xJf ${VIMBRA_BINUTILS_TARBALL} -C ${VIMBRA_MINIZIP_DIR} --strip-components=4
            --wildcards --no-wildcards-match-slash "*/zlib/contrib/minizip/unzip.c"
            "*/zlib/contrib/minizip/unzip.h" "*/zlib/contrib/minizip/ioapi.c"
            "*/zlib/contrib/minizip/ioapi.h" "*/zlib/contrib/minizip/crypt.h"
    RESULT_VARIABLE VIMBRA_MINIZIP_TAR)
  if(NOT VIMBRA_MINIZIP_TAR EQUAL 0)
    message(FATAL_ERROR "Could not take minizip's sources from ${VIMBRA_BINUTILS_TARBALL}")
  endif()
endif()

add_library(vimbra_minizip STATIC ${VIMBRA_MINIZIP_DIR}/unzip.c ${VIMBRA_MINIZIP_DIR}/ioapi.c)
target_include_directories(vimbra_minizip SYSTEM PUBLIC ${CMAKE_BINARY_DIR}/minizip)
target_include_directories(vimbra_minizip PRIVATE ${VIMBRA_MINIZIP_DIR})
target_link_libraries(vimbra_minizip PUBLIC ZLIB::ZLIB)
# Its own code, built as its authors build it: none of the project's warnings. No 64-bit stdio
# names in the browser's C library; no encryption.
target_compile_options(vimbra_minizip PRIVATE -w)
target_compile_definitions(vimbra_minizip PRIVATE USE_FILE32API NOUNCRYPT NOCRYPT)
