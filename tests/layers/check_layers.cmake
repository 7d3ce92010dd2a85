# Fails, naming the file and the header, when a file of a layered folder includes a header of a
# folder that cmake/layers.cmake does not let it use, a host header beyond the setup API
# where only that is allowed, Qt outside app/, or libmodbus outside host/ and app/.
# cmake -DSOURCE_DIR=<tree to check> -DLAYERS=<cmake/layers.cmake> -P check_layers.cmake
cmake_minimum_required(VERSION 3.25)
include(${LAYERS})

set(violations "")
foreach(folder IN LISTS dcservo_layers)
  dcservo_layer_closure(${folder} allowed)
  list(JOIN allowed ", " allowed_text)
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.cpp
       ${SOURCE_DIR}/${folder}/*.h)
  foreach(file IN LISTS files)
    file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "#[ \t]*include[ \t]*\"([a-z_]+)/([^\"]+)\"")
        set(used ${CMAKE_MATCH_1})
        set(header ${used}/${CMAKE_MATCH_2})
        if(used IN_LIST dcservo_layers AND NOT used IN_LIST allowed)
          list(APPEND violations "${file} includes ${header}: ${folder}/ may use only ${allowed_text}")
        elseif(used STREQUAL "host" AND folder IN_LIST dcservo_setup_api_only
               AND NOT header IN_LIST dcservo_setup_api)
          list(APPEND violations "${file} includes ${header}: ${folder}/ uses only the setup API of host/")
        endif()
      elseif(line MATCHES "#[ \t]*include[ \t]*<(modbus[^>]*)>" AND NOT folder STREQUAL "host")
        list(APPEND violations "${file} includes <${CMAKE_MATCH_1}>: only host/ and app/ speak Modbus")
      elseif(line MATCHES "#[ \t]*include[ \t]*<(Qt[A-Za-z]*/[^>]*|Q[A-Z][A-Za-z]*)>")
        list(APPEND violations "${file} includes <${CMAKE_MATCH_1}>: only app/ uses Qt")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n" text)
  message(FATAL_ERROR "Includes against the layers:\n${text}")
endif()
