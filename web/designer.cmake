# The designer page: the library compiled to WebAssembly with its entry points, and the
# page's own files copied beside it into a folder of their own, site/, apart from CMake's
# files: publishing the page is copying that folder, and the server sees only it.
# Included by the top-level list in Emscripten builds.
set(DESIGNER_SITE ${CMAKE_BINARY_DIR}/site)

add_executable(designer web/designer.cpp)
target_link_libraries(designer PRIVATE vimbra)
set_target_properties(designer PROPERTIES SUFFIX ".mjs" RUNTIME_OUTPUT_DIRECTORY ${DESIGNER_SITE})
# The worker imports the module as an ES module. The interpreter's record and the output
# buffer are on the heap, so the default stack does.
target_link_options(designer PRIVATE
  -sMODULARIZE=1 -sEXPORT_ES6=1 -sEXPORT_NAME=createDesigner -sENVIRONMENT=worker
  -sALLOW_MEMORY_GROWTH=1 -sEXPORTED_FUNCTIONS=_malloc,_free
  -sEXPORTED_RUNTIME_METHODS=FS -sINCOMING_MODULE_JS_API=print,printErr)

# The page's own files and the shipped examples (for its "Load example" menus), copied on
# every build so that an edit of the page alone shows up.
set(DESIGNER_PAGE_FILES index.html style.css app.js worker.js state.js)
list(TRANSFORM DESIGNER_PAGE_FILES PREPEND ${CMAKE_SOURCE_DIR}/web/)
add_custom_target(designer_page ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${DESIGNER_SITE}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${DESIGNER_PAGE_FILES} ${DESIGNER_SITE}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/examples ${DESIGNER_SITE}/examples
  VERBATIM)

# The "Load example" menus list what examples/ holds, as a module the page imports; the glob
# re-runs this when a file comes or goes.
set(DESIGNER_EXAMPLES "// Made by the build from the files in examples/.\nexport const EXAMPLES = {\n")
foreach(kind_dir profile:profiles font:fonts script:scripts log:logs)
  string(REPLACE ":" ";" kind_dir ${kind_dir})
  list(GET kind_dir 0 kind)
  list(GET kind_dir 1 dir)
  file(GLOB names CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/examples/${dir}
       ${CMAKE_SOURCE_DIR}/examples/${dir}/*)
  list(SORT names)
  list(TRANSFORM names REPLACE "(.+)" "'\\1'")
  list(JOIN names ", " names)
  string(APPEND DESIGNER_EXAMPLES "  ${kind}: [${names}],\n")
endforeach()
string(APPEND DESIGNER_EXAMPLES "};\n")
file(WRITE ${CMAKE_BINARY_DIR}/examples.js.new "${DESIGNER_EXAMPLES}")
configure_file(${CMAKE_BINARY_DIR}/examples.js.new ${DESIGNER_SITE}/examples.js COPYONLY)
