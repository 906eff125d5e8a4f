# The layering check against tables made to break it: the sound table passes, and each case
# adds one link to it that the check must refuse, with the finding it must name.
#
#   cmake -DCHECK=<CheckLayers.cmake> -DSOUND=<SoundTable.cmake> -DWORK=<folder> -P ...

cmake_minimum_required(VERSION 3.25)

# "<target>|<link added>|<finding expected>"
set(cases
  "sqlite|model|sqlite (libs) links upward: model (app)"
  "platform_foundation|sqlite|platform_foundation (platform) links upward: sqlite (libs)"
  "sqlite|httpengine|sqlite (libs) links httpengine, which its layer's list names after it"
  "httpengine|httpengine_uiadditions|httpengine (libs) links httpengine_uiadditions, which"
  "dao|fakeserver|dao (app) links the tool fakeserver: only tests and the executable may"
  "model|sqlite_tests|model (app) links the test target sqlite_tests"
  # Down the layers, but httpengine (which links sqlite) then reaches the UI.
  "sqlite|platform_ui|httpengine reaches platform_ui, which it must never link"
)

file(READ ${SOUND} sound)
set(failures "")

function(run_check table result_out error_out)
  execute_process(COMMAND ${CMAKE_COMMAND} -DTABLE=${table} -P ${CHECK}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE error)
  set(${result_out} ${result} PARENT_SCOPE)
  set(${error_out} "${output}${error}" PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/sound.cmake "${sound}")
run_check(${WORK}/sound.cmake result error)
if(NOT result EQUAL 0)
  list(APPEND failures "the sound table is refused: ${error}")
endif()

foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 target)
  list(GET parts 1 link)
  list(GET parts 2 expected)
  set(table "${sound}list(APPEND links_${target} ${link})\n")
  file(WRITE ${WORK}/case.cmake "${table}")
  run_check(${WORK}/case.cmake result error)
  if(result EQUAL 0)
    list(APPEND failures "${target} -> ${link} passed the check")
  else()
    string(FIND "${error}" "${expected}" at)
    if(at EQUAL -1)
      list(APPEND failures "${target} -> ${link}: no \"${expected}\" in: ${error}")
    endif()
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
