# No include may leave its folder on its own: a relative include resolves
# against the including file's folder before any include path, so
# "../protocol/Frame.h" or "ui/Foo.h" would reach past the layer rule
# (TovikLayers.cmake). Refused here:
#   - any #include that contains "..";
#   - a quoted #include with a "/" that names a file under the including
#     file's own folder (a file of the same folder is named without one).
#
#   cmake -DROOT=<source dir> -P CheckIncludes.cmake
#       checks every .h and .cpp under the folders of the product, the tests,
#       the benchmarks and the fuzz targets;
#   cmake -DROOT=<source dir> -DFILE=<file> -DAS=<path> -P CheckIncludes.cmake
#       checks one file as if it were ROOT/<path>.
# Fails, naming every include it refuses.
cmake_minimum_required(VERSION 3.25)

if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()

set(refused "")
function(check_file file as)
  get_filename_component(dir ${as} DIRECTORY)
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "#[ \t]*include[ \t]*([\"<])([^\">]+)[\">]")
      continue()
    endif()
    set(kind ${CMAKE_MATCH_1})
    set(path ${CMAKE_MATCH_2})
    if(path MATCHES "\\.\\.")
      list(APPEND refused "${as}: ${path} (leaves its folder)")
    elseif(kind STREQUAL "\"" AND path MATCHES "/" AND EXISTS ${dir}/${path})
      list(APPEND refused "${as}: ${path} (relative to its folder, past the layer's include path)")
    endif()
  endforeach()
  set(refused ${refused} PARENT_SCOPE)
endfunction()

if(FILE)
  if(NOT AS)
    set(AS ${FILE})
  endif()
  check_file(${FILE} ${ROOT}/${AS})
else()
  set(patterns "")
  foreach(folder base ports protocol app panel tools tests bench fuzz)
    list(APPEND patterns ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  endforeach()
  file(GLOB_RECURSE files ${patterns})
  foreach(file IN LISTS files)
    check_file(${file} ${file})
  endforeach()
endif()

if(refused)
  list(JOIN refused "\n  " text)
  message(FATAL_ERROR "Includes that leave their folder:\n  ${text}")
endif()
