# The layers' include roots: the platform (included as "platform/<part>/<Class>.h"), the
# libraries and the application. The tests mirror them, beside their shared support.
set(CHENGHENG_INCLUDE_ROOTS
  ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/src/libs ${CMAKE_SOURCE_DIR}/src/app)
set(CHENGHENG_TEST_INCLUDE_ROOTS
  ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/tests/libs ${CMAKE_SOURCE_DIR}/tests/app)

# Helpers that keep every folder's CMakeLists a few lines long.

# chengheng_library(<target> SOURCES <files...> [DEPS <targets...>])
# One library per component folder; headers are included as "<component>/<Class>.h" from the
# layer folders, each an include root, so a component moved between layers changes no include.
function(chengheng_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CHENGHENG_INCLUDE_ROOTS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# chengheng_test(<target> SOURCES <files...> [DEPS <targets...>] [LABELS <labels...>])
# One GoogleTest executable per library; label "tsan" puts it in the ThreadSanitizer run.
function(chengheng_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CHENGHENG_INCLUDE_ROOTS} ${CHENGHENG_TEST_INCLUDE_ROOTS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} testsupport GTest::gmock GTest::gtest_main)
  set(properties ENVIRONMENT "CHENGHENG_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
