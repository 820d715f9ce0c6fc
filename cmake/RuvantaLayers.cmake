# The layers, as the build enforces them.
#
# Include roots: every library finds its headers through a root of its own in the
# build tree that holds only its folder (a link into the sources), and a target sees
# the roots of the libraries it links. engine/ and imaging/ link no other layer, so a
# file there that includes a header of another layer (or of Qt) does not compile.
#
# Direct includes: before anything compiles, CheckLayers.cmake reads every #include
# "folder/..." of the sources and fails the build on one its folder may not make
# (cli/, for one, reaches the file layer only through session/).

function(ruvanta_include_root target)
  set(root ${PROJECT_BINARY_DIR}/include_roots/${target})
  file(MAKE_DIRECTORY ${root})
  foreach(folder ${ARGN})
    if(NOT EXISTS ${root}/${folder})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
  add_dependencies(${target} ruvanta_layers)
endfunction()

file(GLOB_RECURSE _ruvanta_layer_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/engine/*.h ${PROJECT_SOURCE_DIR}/engine/*.cpp
  ${PROJECT_SOURCE_DIR}/imaging/*.h ${PROJECT_SOURCE_DIR}/imaging/*.cpp
  ${PROJECT_SOURCE_DIR}/session/*.h ${PROJECT_SOURCE_DIR}/session/*.cpp
  ${PROJECT_SOURCE_DIR}/cli/*.h ${PROJECT_SOURCE_DIR}/cli/*.cpp
  ${PROJECT_SOURCE_DIR}/api/*.cpp ${PROJECT_SOURCE_DIR}/python/*.cpp
  ${PROJECT_SOURCE_DIR}/ui/*.h ${PROJECT_SOURCE_DIR}/ui/*.cpp)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/layers.checked
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DSTAMP=${PROJECT_BINARY_DIR}/layers.checked -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake
  DEPENDS ${_ruvanta_layer_sources} ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake
  COMMENT "Checking the includes of each layer")
add_custom_target(ruvanta_layers ALL DEPENDS ${PROJECT_BINARY_DIR}/layers.checked)
