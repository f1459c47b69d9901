# Fails when a folder includes a header of a layer above it. The layers, from
# the bottom: core; partition and store; recovery (the flow and the safe
# writing every engine's copy goes through); the engines (and the factory
# above them); the two front ends, cli and app, which never include each
# other. Run as: cmake -DSOURCE_DIR=<tree> -P CheckLayers.cmake
set(allowed_core "core")
set(allowed_partition "core|partition")
set(allowed_store "core|store")
set(allowed_recovery "core|store|recovery")
set(allowed_engines "core|store|recovery|engines")
set(allowed_cli "core|partition|store|recovery|engines|cli")
set(allowed_app "core|partition|store|recovery|engines|app")

set(failures "")
foreach(layer core partition store recovery engines cli app)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp")
  foreach(f ${sources})
    file(STRINGS "${f}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([a-z]+)/.*" "\\1" folder "${line}")
      if(NOT folder MATCHES "^(${allowed_${layer}})$")
        file(RELATIVE_PATH rel "${SOURCE_DIR}" "${f}")
        string(APPEND failures "  ${rel}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "includes that reach a layer above their own:\n${failures}")
endif()
