# Checks a layering table (written by cmake/Layering.cmake) and fails, naming every offending
# link, when:
# - a target of the platform, the libraries or the application links a layer above its own
#   (platform < libs < app), or a test target;
# - it links a component of its own layer that the layer's list names after it (each list is in
#   dependency order, so this also refuses any cycle between components);
# - anything but an executable of the application or a test links a tool;
# - a target reaches, directly or through others, a target its CHENGHENG_NEVER_LINKS names.
#
#   cmake -DTABLE=<table file> -P cmake/CheckLayers.cmake

cmake_minimum_required(VERSION 3.25)

if(NOT TABLE)
  message(FATAL_ERROR "usage: cmake -DTABLE=<layering table> -P CheckLayers.cmake")
endif()
include(${TABLE})

set(rank_platform 0)
set(rank_libs 1)
set(rank_app 2)

# Every target `start` reaches through its links (itself left out).
function(reach start out)
  set(seen "")
  set(pending ${links_${start}})
  while(pending)
    list(POP_FRONT pending next)
    if(next IN_LIST seen OR next STREQUAL start)
      continue()
    endif()
    list(APPEND seen ${next})
    list(APPEND pending ${links_${next}})
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

set(findings "")
foreach(target IN LISTS targets)
  set(layer ${layer_${target}})
  foreach(link IN LISTS links_${target})
    if(NOT DEFINED layer_${link})
      continue()
    endif()
    set(linked ${layer_${link}})
    if(layer STREQUAL "tests" OR layer STREQUAL "tools")
      continue()
    endif()
    if(linked STREQUAL "tests")
      list(APPEND findings "${target} (${layer}) links the test target ${link}")
    elseif(linked STREQUAL "tools")
      if(NOT (layer STREQUAL "app" AND type_${target} STREQUAL "EXECUTABLE"))
        list(APPEND findings
          "${target} (${layer}) links the tool ${link}: only tests and the executable may")
      endif()
    elseif(rank_${linked} GREATER rank_${layer})
      list(APPEND findings "${target} (${layer}) links upward: ${link} (${linked})")
    elseif(linked STREQUAL layer AND order_${link} GREATER order_${target})
      list(APPEND findings
        "${target} (${layer}) links ${link}, which its layer's list names after it")
    endif()
  endforeach()
  if(never_${target})
    reach(${target} reached)
    foreach(forbidden IN LISTS never_${target})
      if(forbidden IN_LIST reached)
        list(APPEND findings "${target} reaches ${forbidden}, which it must never link")
      endif()
    endforeach()
  endif()
endforeach()

if(findings)
  list(JOIN findings "\n  " text)
  message(FATAL_ERROR "Layering broken:\n  ${text}")
endif()
message(STATUS "Layering holds")
