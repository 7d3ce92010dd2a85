# The layers of the code: what each folder may use directly. A folder may also use whatever
# the folders it uses may use. The build links each folder's target only to these, and the
# `layers_sources` test fails when a file includes a header from any other folder. Read by the
# build and, with cmake -P, by the test tests/layers/check_layers.cmake.
set(dcservo_layers host dsp units derive design dialogs drivetests plugin sim)

set(dcservo_uses_host "")
# Filter mathematics with no setup behind it.
set(dcservo_uses_dsp "")
set(dcservo_uses_units host)
set(dcservo_uses_derive units dsp)
set(dcservo_uses_design derive)
set(dcservo_uses_dialogs design)
set(dcservo_uses_drivetests design)
set(dcservo_uses_plugin dialogs drivetests)
# The simulated drive knows nothing of the plug-in.
set(dcservo_uses_sim host)

# Headers only, no link: a dialog includes the header of the dialog it opens, and the setup
# dialogs and the test dialogs open each other. Both end up in the same library.
set(dcservo_also_includes_dialogs drivetests)
set(dcservo_also_includes_drivetests dialogs)

# The conversions and the design see the host only through its setup API: no dialogs, no
# communication.
set(dcservo_setup_api_only units derive design)
# zel_numeric.h is arithmetic only: the one checked conversion of doubles to integers.
set(dcservo_setup_api host/zel_setup.h host/zel_units.h host/zel_names.h host/zel_errors.h
    host/zel_numeric.h)

# The program, the tests, the benchmarks and the fuzz targets may include everything.

# Every folder that `folder` may include, itself first.
function(dcservo_layer_closure folder out)
  set(result ${folder})
  set(pending ${dcservo_uses_${folder}})
  while(pending)
    list(POP_FRONT pending next)
    if(NOT next IN_LIST result)
      list(APPEND result ${next})
      list(APPEND pending ${dcservo_uses_${next}})
    endif()
  endwhile()
  list(APPEND result ${dcservo_also_includes_${folder}})
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# The target of a folder of the plug-in's code: an object library whose objects go into the
# shared dcservo_core, linked to the targets of the folders it uses. A folder without
# sources yet is an interface library, so its place in the layers holds already.
function(dcservo_add_layer folder)
  set(target dcservo_${folder})
  set(uses "")
  foreach(used IN LISTS dcservo_uses_${folder})
    if(used STREQUAL "host")
      list(APPEND uses zelkernel)
    else()
      list(APPEND uses dcservo_${used})
    endif()
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${target} OBJECT ${sources})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${uses})
    target_link_libraries(dcservo_core PRIVATE ${target})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${uses})
  endif()
endfunction()
