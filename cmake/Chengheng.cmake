# The layers' include roots. Each layer sees only its own root and those below it, so an include
# that reaches up a layer fails to compile. Platform headers are included as
# "platform/<part>/<Class>.h"; their root is a folder of the build tree that holds only a link
# named "platform" to src/platform (the source folder src/ would also show src/libs and src/app).
set(CHENGHENG_PLATFORM_ROOT ${CMAKE_BINARY_DIR}/include-roots/platform)
file(MAKE_DIRECTORY ${CHENGHENG_PLATFORM_ROOT})
file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/platform ${CHENGHENG_PLATFORM_ROOT}/platform SYMBOLIC)
set(CHENGHENG_PLATFORM_INCLUDE_ROOTS ${CHENGHENG_PLATFORM_ROOT})
set(CHENGHENG_LIBS_INCLUDE_ROOTS ${CHENGHENG_PLATFORM_INCLUDE_ROOTS} ${CMAKE_SOURCE_DIR}/src/libs)
set(CHENGHENG_APP_INCLUDE_ROOTS ${CHENGHENG_LIBS_INCLUDE_ROOTS} ${CMAKE_SOURCE_DIR}/src/app)
# Tests, tools, fuzz targets and benchmarks sit above the application and see every layer.
set(CHENGHENG_INCLUDE_ROOTS ${CHENGHENG_APP_INCLUDE_ROOTS})
# The tests mirror the layers, beside their shared support.
set(CHENGHENG_TEST_INCLUDE_ROOTS
  ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/tests/libs ${CMAKE_SOURCE_DIR}/tests/app)

# Helpers that keep every folder's CMakeLists a few lines long.

# chengheng_library(<target> SOURCES <files...> [DEPS <targets...>])
# One library per component folder; headers are included as "<component>/<Class>.h" from the
# layer folders, each an include root, so a component moved between layers changes no include.
function(chengheng_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  chengheng_layer_of(${CMAKE_CURRENT_SOURCE_DIR} layer order)
  string(TOUPPER ${layer} layer)
  if(NOT DEFINED CHENGHENG_${layer}_INCLUDE_ROOTS)
    message(FATAL_ERROR "${name}: a component library must sit in a layer folder under src/")
  endif()
  target_include_directories(${name} PUBLIC ${CHENGHENG_${layer}_INCLUDE_ROOTS})
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
