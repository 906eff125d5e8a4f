# Compares the targets the layering table took from generator-expression links (FOUND, a list)
# with the ones expected (EXPECTED, separated by "|"); fails naming what is missing or extra.
#
#   cmake -DFOUND=<a;b> -DEXPECTED=<a|b> -P CheckLinkNames.cmake

cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" expected "${EXPECTED}")
set(failures "")
foreach(name IN LISTS expected)
  if(NOT name IN_LIST FOUND)
    list(APPEND failures "the link to ${name} inside a generator expression was not read")
  endif()
endforeach()
foreach(name IN LISTS FOUND)
  if(NOT name IN_LIST expected)
    list(APPEND failures "${name} was read from a generator expression that does not name it")
  endif()
endforeach()
if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
