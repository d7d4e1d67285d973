# The layers of src/, bottom first. A folder may include headers of its own folder and of folders
# of a lower rank, never of its own rank or above: the arrows of the include graph point down.
# cmake/check_layers.cmake holds the ranks and runs at every build (target orv_layer_check).
add_custom_target(orv_layer_check ALL
  COMMAND ${CMAKE_COMMAND} -DORV_LAYER_ROOT=${CMAKE_SOURCE_DIR}/src -P ${CMAKE_SOURCE_DIR}/cmake/check_layers.cmake
  COMMENT "Checking that includes point down the layers"
  VERBATIM)
