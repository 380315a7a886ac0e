cmake_minimum_required(VERSION 3.25)
# Fails when a source file includes a header of a folder above its own. The folders build on each
# other in one direction only:
#   core <- number_text <- storage, analysis <- ui <- app;  study and picture (plain C++) beside
#   ui; cli beside app, using study and picture, and no ui (the command line links no Qt).
# Usage: cmake -DSRC=<project>/src -P layering.cmake
set(allowed_core core)
set(allowed_number_text core number_text)
set(allowed_storage core number_text storage)
set(allowed_analysis core number_text analysis)
set(allowed_study core number_text storage analysis study)
set(allowed_picture core number_text storage analysis picture)
set(allowed_ui core number_text storage analysis ui)
set(allowed_app core number_text storage analysis ui picture app)
set(allowed_cli core number_text storage analysis study picture cli)
set(folders core number_text storage analysis study picture ui app cli)

set(violations "")
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE sources "${SRC}/${folder}/*.h" "${SRC}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([a-z_]+)/.*" "\\1" target "${line}")
      if(NOT target IN_LIST folders)
        continue()
      endif()
      if(NOT target IN_LIST allowed_${folder})
        file(RELATIVE_PATH shown "${SRC}" "${source}")
        string(APPEND violations "  ${shown}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "includes against the direction of the layers:\n${violations}")
endif()
message(STATUS "layering: every include points down")
