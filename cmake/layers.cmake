# The layers of the code: what each folder may use directly. A folder may also use whatever
# the folders it uses may use. Each folder compiles against an include root of its own that
# holds only those folders (dcservo_layer_root), so a forbidden include does not compile; the
# `layers_sources` test names any such include on the sources too, Qt and Modbus included.
# Read by the build and, with cmake -P, by the test tests/layers/check_layers.cmake.
set(dcservo_layers names host dsp units derive design dialogs drivetests plugin sim)

# The drive's names and the names the dialogs are registered under, spelt once: header only,
# below everything that looks a name up.
set(dcservo_uses_names "")
set(dcservo_uses_host "")
# Filter mathematics with no setup behind it.
set(dcservo_uses_dsp "")
set(dcservo_uses_units host names)
set(dcservo_uses_derive units dsp)
set(dcservo_uses_design derive)
set(dcservo_uses_dialogs design)
set(dcservo_uses_drivetests design)
set(dcservo_uses_plugin dialogs drivetests)
# The simulated drive knows nothing of the plug-in.
set(dcservo_uses_sim host names)

# The conversions and the design see the host only through its setup API: no dialogs, no
# communication.
set(dcservo_setup_api_only units derive design)
# zel_numeric.h is arithmetic only: the one checked conversion of doubles to integers.
# zel_quiet_value.h reads the parameters that a setup may lack.
# zel_format.h is the display rule, text only: the design's reports show figures by it.
set(dcservo_setup_api host/zel_setup.h host/zel_units.h host/zel_names.h host/zel_errors.h
    host/zel_numeric.h host/zel_quiet_value.h host/zel_format.h)

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
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# The include root of `folder`: links to the folders it may include and nothing else; where
# only the setup API of host/ is allowed, links to those headers alone.
function(dcservo_layer_root folder out)
  dcservo_layer_closure(${folder} closure)
  set(root ${CMAKE_BINARY_DIR}/layer_roots/${folder})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(used IN LISTS closure)
    if(used STREQUAL "host" AND folder IN_LIST dcservo_setup_api_only)
      file(MAKE_DIRECTORY ${root}/host)
      foreach(header IN LISTS dcservo_setup_api)
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${header} ${root}/${header} SYMBOLIC)
      endforeach()
    else()
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${used} ${root}/${used} SYMBOLIC)
    endif()
  endforeach()
  set(${out} ${root} PARENT_SCOPE)
endfunction()

# In a unity build (CMAKE_UNITY_BUILD, as CI builds) a dialog's two files compile on their own:
# they name the dialog's control ids through a using-directive at file scope (the recipe in
# docs/adding-a-dialog.md), which would reach into the next file of a batch, where another
# dialog's ids of the same name live.
function(dcservo_compile_dialog_files_alone)
  set(dialog_files ${ARGN})
  list(FILTER dialog_files INCLUDE REGEX "_(dlg|template)\\.cpp$")
  if(dialog_files)
    set_source_files_properties(${dialog_files} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endif()
endfunction()

# The target of a folder of the plug-in's code: an object library whose objects go into the
# shared dcservo_core, which links the host. It sees its own include root only; linking the
# folders it uses would hand it their roots, so the order of the build is all it takes from
# them.
function(dcservo_add_layer folder)
  set(target dcservo_${folder})
  dcservo_layer_root(${folder} root)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${target} OBJECT ${sources})
  dcservo_compile_dialog_files_alone(${sources})
  target_include_directories(${target} PRIVATE ${root})
  # Linked into dcservo_core, whose own functions are bound at its link.
  target_compile_options(${target} PRIVATE -fno-semantic-interposition)
  target_link_libraries(dcservo_core PRIVATE ${target})
endfunction()
