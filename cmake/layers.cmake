# The subsystem layers of cmake/layers.txt, for the top-level build: the folders in order
# (PIXMOOR_SUBSYSTEMS), each subsystem's own include root, and the check that every library
# links only subsystems of lower layers. The library of a folder is pixmoor_ and its last part
# (imaging/codec: pixmoor_codec).
file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/layers.txt pixmoor_layer_lines REGEX "^[^#]")
set(PIXMOOR_SUBSYSTEMS "")
set(pixmoor_layer 0)
foreach(line IN LISTS pixmoor_layer_lines)
  separate_arguments(pixmoor_layer_dirs UNIX_COMMAND "${line}")
  foreach(dir IN LISTS pixmoor_layer_dirs)
    list(APPEND PIXMOOR_SUBSYSTEMS ${dir})
    cmake_path(GET dir FILENAME name)
    set(pixmoor_layer_of_pixmoor_${name} ${pixmoor_layer})
    set(pixmoor_dir_of_pixmoor_${name} ${dir})
  endforeach()
  math(EXPR pixmoor_layer "${pixmoor_layer} + 1")
endforeach()

# Gives target (the subsystem's library, or an object library of it) the subsystem's include
# root: a folder of the build holding only a link to the subsystem's folder, so that
# "subsystem/header.h" is found only by the libraries that link the subsystem. There is no
# include directory common to all: an include of a subsystem the library does not link fails
# to compile.
function(pixmoor_subsystem_includes target)
  file(RELATIVE_PATH dir ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  cmake_path(GET dir FILENAME name)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${name})
  set(link ${root}/${dir})
  cmake_path(GET link PARENT_PATH parent)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${link})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${link} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# Stops the configuration when a subsystem's library links a subsystem of its own layer or of
# a higher one.
function(pixmoor_check_layers)
  foreach(dir IN LISTS PIXMOOR_SUBSYSTEMS)
    cmake_path(GET dir FILENAME name)
    set(lib pixmoor_${name})
    get_target_property(links ${lib} LINK_LIBRARIES)
    foreach(used IN LISTS links)
      if(used STREQUAL lib OR NOT DEFINED pixmoor_layer_of_${used})
        continue()
      endif()
      if(NOT pixmoor_layer_of_${used} LESS pixmoor_layer_of_${lib})
        message(FATAL_ERROR "${lib} links ${used}: ${dir} may not depend on "
                "${pixmoor_dir_of_${used}} (cmake/layers.txt)")
      endif()
    endforeach()
  endforeach()
endfunction()
