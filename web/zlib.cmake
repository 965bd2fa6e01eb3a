# zlib for the WebAssembly build, as the target ZLIB::ZLIB. Debian ships zlib's sources only
# inside binutils-source; the files deflate and crc32 need are taken from its tarball into
# the build folder at configure time and compiled here. Its deflate gives the same bytes as
# the system's libz for the default strategy, so the page's PNG files are the tool's.

file(GLOB VIMBRA_BINUTILS_TARBALL /usr/src/binutils/binutils-*.tar.xz)
if(NOT VIMBRA_BINUTILS_TARBALL)
  message(FATAL_ERROR "zlib sources not found: install the Debian package binutils-source")
endif()
list(GET VIMBRA_BINUTILS_TARBALL 0 VIMBRA_BINUTILS_TARBALL)

set(VIMBRA_ZLIB_NAMES adler32 compress crc32 deflate inffast inflate inftrees trees uncompr zutil)
set(VIMBRA_ZLIB_HEADERS crc32.h deflate.h gzguts.h inffast.h inffixed.h inflate.h inftrees.h
  trees.h zconf.h zlib.h zutil.h)
set(VIMBRA_ZLIB_DIR ${CMAKE_BINARY_DIR}/zlib)
set(VIMBRA_ZLIB_MEMBERS)
set(VIMBRA_ZLIB_SOURCES)
foreach(name ${VIMBRA_ZLIB_NAMES})
  list(APPEND VIMBRA_ZLIB_MEMBERS "*/zlib/${name}.c")
  list(APPEND VIMBRA_ZLIB_SOURCES ${VIMBRA_ZLIB_DIR}/${name}.c)
endforeach()
foreach(header ${VIMBRA_ZLIB_HEADERS})
  list(APPEND VIMBRA_ZLIB_MEMBERS "*/zlib/${header}")
endforeach()

if(NOT EXISTS ${VIMBRA_ZLIB_DIR}/zlib.h)
  file(MAKE_DIRECTORY ${VIMBRA_ZLIB_DIR})
  execute_process(
    COMMAND tar -xJf ${VIMBRA_BINUTILS_TARBALL} -C ${VIMBRA_ZLIB_DIR} --strip-components=2
            --wildcards --no-wildcards-match-slash ${VIMBRA_ZLIB_MEMBERS}
    RESULT_VARIABLE VIMBRA_ZLIB_TAR)
  if(NOT VIMBRA_ZLIB_TAR EQUAL 0)
    message(FATAL_ERROR "Could not take zlib's sources from ${VIMBRA_BINUTILS_TARBALL}")
  endif()
endif()

enable_language(C)
add_library(vimbra_zlib STATIC ${VIMBRA_ZLIB_SOURCES})
target_include_directories(vimbra_zlib SYSTEM PUBLIC ${VIMBRA_ZLIB_DIR})
# Its own code, built as its authors build it: none of the project's warnings.
target_compile_options(vimbra_zlib PRIVATE -w)
target_compile_definitions(vimbra_zlib PRIVATE HAVE_UNISTD_H HAVE_STDARG_H)
add_library(ZLIB::ZLIB ALIAS vimbra_zlib)
