# Builds each include probe (tests/layering/CMakeLists.txt) and fails, naming it, when a probe
# that reaches up a layer compiles, when one that stays in its layer or below does not, or when a
# refused probe fails for another reason than the header it cannot find.
#
#   cmake -DBUILD_DIR=<build tree> -DPROBES=<probe|component|header|yes-or-no,...> -P ...

cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" probes "${PROBES}")
set(failures "")
foreach(entry IN LISTS probes)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 probe)
  list(GET parts 1 component)
  list(GET parts 2 header)
  list(GET parts 3 compiles)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${probe}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE error)
  if(compiles STREQUAL "yes" AND NOT result EQUAL 0)
    list(APPEND failures "${component} cannot include ${header}:\n${output}${error}")
  elseif(compiles STREQUAL "no" AND result EQUAL 0)
    list(APPEND failures "${component} includes ${header}, a layer above its own")
  elseif(compiles STREQUAL "no")
    # gcc and clang word a missing header differently.
    string(FIND "${output}${error}" "${header}: No such file" gcc_at)
    string(FIND "${output}${error}" "'${header}' file not found" clang_at)
    if(gcc_at EQUAL -1 AND clang_at EQUAL -1)
      list(APPEND failures "${component} including ${header} failed otherwise:\n${output}${error}")
    endif()
  endif()
endforeach()
if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
message(STATUS "Every layer sees only its own include root and those below")
