# cmake -DORV_LAYER_ROOT=<src folder> -P check_layers.cmake
# Fails when a file in one folder of src/ includes a header of a folder of the same or a higher
# rank. Ranks (docs/ARCHITECTURE.md):
#   0 platform
#   1 dal zip scsi
#   2 server burner
#   3 settings
#   4 i18n
#   5 core
#   6 backup
#   7 service
#   8 app
set(rank_platform 0)
set(rank_dal 1)
set(rank_zip 1)
set(rank_scsi 1)
set(rank_server 2)
set(rank_burner 2)
set(rank_settings 3)
set(rank_i18n 4)
set(rank_core 5)
set(rank_backup 6)
set(rank_service 7)
set(rank_app 8)

if(NOT ORV_LAYER_ROOT)
  message(FATAL_ERROR "check_layers.cmake: set ORV_LAYER_ROOT to the src folder")
endif()
file(GLOB_RECURSE sources RELATIVE ${ORV_LAYER_ROOT} ${ORV_LAYER_ROOT}/*.h ${ORV_LAYER_ROOT}/*.cpp)
set(wrong "")
foreach(src IN LISTS sources)
  string(REGEX MATCH "^[^/]+" folder "${src}")
  if(NOT DEFINED rank_${folder})
    string(APPEND wrong "\n  ${src}: folder '${folder}' has no rank in cmake/check_layers.cmake")
    continue()
  endif()
  file(STRINGS ${ORV_LAYER_ROOT}/${src} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"/]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"/]+)/.*" "\\1" target "${line}")
    if(target STREQUAL folder OR NOT DEFINED rank_${target})
      continue()
    endif()
    if(NOT rank_${target} LESS rank_${folder})
      string(APPEND wrong "\n  ${src} (${folder}, rank ${rank_${folder}}) includes \"${target}/…\" (rank ${rank_${target}})")
    endif()
  endforeach()
endforeach()
if(wrong)
  message(FATAL_ERROR "Includes that point up or sideways across the layers:${wrong}")
endif()
