# The layering table: every target of the build with its layer, its place in its layer's list
# and the targets it links, written at configure time for the check `make test` runs
# (cmake/CheckLayers.cmake, test "layering.links").
#
# Layers, bottom up: platform, libs, app (the folders of CHENGHENG_PLATFORM_DIRS,
# CHENGHENG_LIBRARY_DIRS and CHENGHENG_APP_DIRS, each list in dependency order); "tools" (the
# folders under tools/); "tests" (tests/, fuzz/, bench/). A target may also name targets it
# must never reach, directly or through others, in its property CHENGHENG_NEVER_LINKS.

# Every target made in `dir` and the folders below it.
function(chengheng_collect_targets dir out)
  get_directory_property(targets DIRECTORY ${dir} BUILDSYSTEM_TARGETS)
  get_directory_property(subdirs DIRECTORY ${dir} SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    chengheng_collect_targets(${subdir} below)
    list(APPEND targets ${below})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# The targets a link entry names: the entry itself, or every target named anywhere inside a
# generator expression. A conditional link (`$<$<CONFIG:Debug>:model>`) is read as if its
# condition held, so no configuration can link up a layer unseen. Scope markers ("::@...")
# name none.
function(chengheng_link_names entries out)
  set(names "")
  foreach(entry IN LISTS entries)
    if(entry MATCHES "^::@")
      continue()
    endif()
    set(candidates ${entry})
    if(entry MATCHES "\\$<")
      string(REGEX MATCHALL "[A-Za-z0-9_.+-]+(::[A-Za-z0-9_.+-]+)?" candidates "${entry}")
    endif()
    foreach(candidate IN LISTS candidates)
      if(NOT TARGET ${candidate})
        continue()
      endif()
      get_target_property(aliased ${candidate} ALIASED_TARGET)
      if(aliased)
        set(candidate ${aliased})
      endif()
      list(APPEND names ${candidate})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES names)
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The layer of a target made in `source_dir`, and the place of its folder in the layer's list
# ("-" where order does not matter). A folder under src/ that no list names is an error: every
# component must be placed in a layer.
function(chengheng_layer_of source_dir layer_out order_out)
  foreach(layer IN ITEMS PLATFORM LIBRARY APP)
    set(index 0)
    foreach(dir IN LISTS CHENGHENG_${layer}_DIRS)
      if(source_dir STREQUAL "${CMAKE_SOURCE_DIR}/src/${dir}")
        string(TOLOWER ${layer} name)
        if(name STREQUAL "library")
          set(name libs)
        endif()
        set(${layer_out} ${name} PARENT_SCOPE)
        set(${order_out} ${index} PARENT_SCOPE)
        return()
      endif()
      math(EXPR index "${index} + 1")
    endforeach()
  endforeach()
  if(source_dir MATCHES "^${CMAKE_SOURCE_DIR}/tools(/|$)")
    set(${layer_out} tools PARENT_SCOPE)
  elseif(source_dir MATCHES "^${CMAKE_SOURCE_DIR}/src(/|$)")
    message(FATAL_ERROR "${source_dir} makes a target but is in no layer list of CMakeLists.txt")
  else()
    set(${layer_out} tests PARENT_SCOPE)
  endif()
  set(${order_out} "-" PARENT_SCOPE)
endfunction()

# chengheng_write_link_table(<file>): the table of every target made so far.
function(chengheng_write_link_table file)
  chengheng_collect_targets(${CMAKE_SOURCE_DIR} targets)
  set(text "# Written by cmake/Layering.cmake at configure time; read by cmake/CheckLayers.cmake.\n")
  set(listed "")
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "UTILITY")
      continue()
    endif()
    get_target_property(source_dir ${target} SOURCE_DIR)
    chengheng_layer_of(${source_dir} layer order)
    set(entries "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${target} LINK_LIBRARIES)
      if(direct)
        list(APPEND entries ${direct})
      endif()
    endif()
    get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND entries ${interface})
    endif()
    chengheng_link_names("${entries}" links)
    get_target_property(never ${target} CHENGHENG_NEVER_LINKS)
    if(NOT never)
      set(never "")
    endif()
    list(APPEND listed ${target})
    string(APPEND text "set(layer_${target} ${layer})\n" "set(order_${target} ${order})\n"
      "set(type_${target} ${type})\n" "set(links_${target} ${links})\n"
      "set(never_${target} ${never})\n")
  endforeach()
  string(APPEND text "set(targets ${listed})\n")
  file(WRITE ${file} "${text}")
endfunction()
