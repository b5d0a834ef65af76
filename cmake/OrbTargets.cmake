# Helpers that give every target of the project the same warnings and layout.

set(ORB_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror)
# GCC 12 at -O3 reports string concatenations as overlapping copies (GCC bug
# 105329, a false positive): keep it a warning, not an error.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND ORB_WARNINGS -Wno-error=restrict)
endif()

# orb_library(<name> SOURCES ... [DEPS ...])
# One library per source folder; DEPS are the lower layers it builds on.
function(orb_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${ORB_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# orb_test(<name> SOURCES ... DEPS ... [LABELS ...])
# A GoogleTest program registered with ctest, one test per TEST().
function(orb_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${ORB_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} orb_testsupport GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
  if("concurrency" IN_LIST ARG_LABELS)
    add_dependencies(concurrency_tests ${name})
  endif()
endfunction()

# orb_bench(<name> SOURCES ... DEPS ...)
function(orb_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${ORB_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} orb_benchsupport benchmark::benchmark_main)
endfunction()

# orb_fuzz(<name> SOURCES ... DEPS ...)
function(orb_fuzz name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
