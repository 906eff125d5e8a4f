# Helpers that keep every folder's CMakeLists a few lines long.

# chengheng_library(<target> SOURCES <files...> [DEPS <targets...>])
# One library per source folder; headers are included as "<folder>/<Class>.h" from src/.
function(chengheng_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# chengheng_test(<target> SOURCES <files...> [DEPS <targets...>] [LABELS <labels...>])
# One GoogleTest executable per library; label "tsan" puts it in the ThreadSanitizer run.
function(chengheng_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} testsupport GTest::gmock GTest::gtest_main)
  set(properties ENVIRONMENT "CHENGHENG_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(ARG_LABELS)
    list(APPEND properties LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
