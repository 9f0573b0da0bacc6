# Shared build settings and the three helpers every folder uses, so a subsystem's
# CMakeLists.txt stays a few lines long.

add_library(quarno_warnings INTERFACE)
target_compile_options(quarno_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)

if(QUARNO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QUARNO_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# quarno_add_library(<name> SOURCES ... [DEPS ...])
# Defines static library quarno_<name>; include paths are rooted at src/ so
# code writes #include "core/log.h".
function(quarno_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(quarno_${name} STATIC ${ARG_SOURCES})
  target_include_directories(quarno_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(quarno_${name} PUBLIC ${ARG_DEPS} Threads::Threads
                        PRIVATE quarno_warnings)
endfunction()

# quarno_add_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# One GoogleTest executable; every TEST becomes its own ctest entry.
function(quarno_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main
                        quarno_warnings)
  # Test programs check update manifests against the test key.
  if(TARGET quarno_update_test_key)
    target_link_libraries(${name} PRIVATE quarno_update_test_key)
  endif()
  target_compile_definitions(${name} PRIVATE
    QUARNO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QUARNO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
endfunction()

# quarno_add_fuzzer(<name> SOURCES ... [LIBS ...])
# A libFuzzer target, built only with QUARNO_FUZZ (clang). ctest runs it for a
# bounded number of inputs over its seed corpus (tests/fuzz/corpus/<name>).
function(quarno_add_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT QUARNO_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  if(TARGET quarno_update_test_key)
    target_link_libraries(${name} PRIVATE quarno_update_test_key)
  endif()
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
  set(args -runs=20000 -max_total_time=30 -rss_limit_mb=2048)
  # libFuzzer writes new inputs into its first folder: keep that one in the
  # build tree so a test run never adds files to the sources.
  set(scratch ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
  file(MAKE_DIRECTORY ${scratch})
  if(EXISTS ${corpus})
    add_test(NAME fuzz.${name} COMMAND ${name} ${args} ${scratch} ${corpus})
  else()
    add_test(NAME fuzz.${name} COMMAND ${name} ${args} ${scratch})
  endif()
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 120)
endfunction()
