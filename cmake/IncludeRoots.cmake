# Code includes with paths from the repository root ("wavfile/WavFmt.h"), but a target sees only
# the folders it names here and those of the libraries it links. Each target gets an include
# root of its own in the build tree that holds links to exactly those folders, so an include
# against the layering does not compile.

# quindle_include_root(<target> <PUBLIC|PRIVATE|INTERFACE> <folder>...)
function(quindle_include_root target scope)
  set(root ${PROJECT_BINARY_DIR}/include-roots/${target})
  foreach(folder ${ARGN})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# quindle_internal_headers(<library> <folder>...): the library's own headers in these folders
# are private to it; tests that look inside link <library>_internals.
function(quindle_internal_headers library)
  add_library(${library}_internals INTERFACE)
  quindle_include_root(${library}_internals INTERFACE ${ARGN})
  target_link_libraries(${library}_internals INTERFACE ${library})
  target_include_directories(${library} PRIVATE ${PROJECT_BINARY_DIR}/include-roots/${library}_internals)
endfunction()
