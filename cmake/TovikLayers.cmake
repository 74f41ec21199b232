# Layer discipline. A library sees only the folders of its own layer and of
# the layers below it: its include path is a tree of links to exactly those
# folders' headers, and the repository root is on no library's path. A file
# that includes a header of a higher layer (or of a front end the layer may
# not use) therefore fails to compile.
#
#   tovik_layer(<target> <folder>...)
#
# Folders are given relative to the repository root ("base", "ports/ui").
# Headers added later are picked up when CMake re-runs (the globs are
# CONFIGURE_DEPENDS). Headers that CMake generates for a folder (in
# TOVIK_GENERATED_DIR/<folder>, e.g. base/Version.h) belong to that folder.
#
# Where symbolic links need rights a build may not have (Windows), the tree
# holds copies instead: CMake re-runs when a header changes and copies it
# again, and files no longer wanted are removed.
option(TOVIK_LAYER_COPIES "Copy the layers' headers instead of linking them" ${CMAKE_HOST_WIN32})
function(tovik_layer target)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  if(NOT TOVIK_LAYER_COPIES)
    file(REMOVE_RECURSE ${root})
  endif()
  set(wanted)
  foreach(folder ${ARGN})
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h ${TOVIK_GENERATED_DIR}/${folder}/*.h)
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(header ${headers})
      get_filename_component(name ${header} NAME)
      if(TOVIK_LAYER_COPIES)
        configure_file(${header} ${root}/${folder}/${name} COPYONLY)
        list(APPEND wanted ${root}/${folder}/${name})
      else()
        file(CREATE_LINK ${header} ${root}/${folder}/${name} SYMBOLIC)
      endif()
    endforeach()
  endforeach()
  if(TOVIK_LAYER_COPIES)
    file(GLOB_RECURSE present LIST_DIRECTORIES false ${root}/*)
    if(wanted)
      list(REMOVE_ITEM present ${wanted})
    endif()
    if(present)
      file(REMOVE ${present})
    endif()
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# Generated headers, made before any layer is set up.
set(TOVIK_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${TOVIK_GENERATED_DIR}/base/Version.h @ONLY)

# The folders each layer may include, bottom up.
set(TOVIK_LAYER_BASE base)
set(TOVIK_LAYER_PORTS ${TOVIK_LAYER_BASE} ports)
set(TOVIK_LAYER_PROTOCOL ${TOVIK_LAYER_PORTS} protocol)
set(TOVIK_LAYER_APP ${TOVIK_LAYER_PROTOCOL} app)
set(TOVIK_LAYER_PANEL ${TOVIK_LAYER_APP} panel)
# The Qt front end: each window folder sees the core and the front-end
# folders below it.
set(TOVIK_LAYER_BASE_UI ${TOVIK_LAYER_PANEL} base/ui)
set(TOVIK_LAYER_PORTS_UI ${TOVIK_LAYER_BASE_UI} ports/ui)
set(TOVIK_LAYER_PANEL_UI ${TOVIK_LAYER_PORTS_UI} panel/ui)
set(TOVIK_LAYER_APP_UI ${TOVIK_LAYER_PANEL_UI} app/ui)
