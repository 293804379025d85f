# vexa_add_gtest(<name> SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable registered with CTest; tests of a module live beside it.
function(vexa_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
endfunction()

# vexa_app_identity(<target> NAME <bundle name> VERSION <short version> ID <bundle identifier>)
# Gives an executable the identity that error reports and alerts show in their header.
function(vexa_app_identity target)
  cmake_parse_arguments(ARG "" "NAME;VERSION;ID" "" ${ARGN})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_identity.cpp)
  file(CONFIGURE OUTPUT ${out} CONTENT [=[
// Generated: the program's identity for error reports.
#include "errors/app_identity.h"

const vexa::AppIdentity& vexa::appIdentity() {
    static const AppIdentity identity{"@ARG_NAME@", "@ARG_VERSION@", "@ARG_ID@"};
    return identity;
}
]=] @ONLY)
  target_sources(${target} PRIVATE ${out})
endfunction()

# vexa_add_fuzzer(<name> SOURCES ... LIBS ... SEEDS <script> [DICT <file>])
# A libFuzzer target (configure with -DVEXA_FUZZ=ON and clang), registered
# with CTest under the label "fuzz". <script> is run with Debian's python3
# and the seed folder as its argument; the run lasts VEXA_FUZZ_SECONDS and
# fails on any crash, leak, time-out or memory blow-up. The run's log is
# <name>.log in the build folder; the test prints its final figures.
set(VEXA_FUZZ_SECONDS 60 CACHE STRING "Seconds each fuzz target runs under CTest")
add_custom_target(vexa_fuzzers)
function(vexa_add_fuzzer name)
  cmake_parse_arguments(ARG "" "SEEDS;DICT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(vexa_fuzzers ${name})

  find_program(VEXA_DEBIAN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
  set(seeds ${CMAKE_CURRENT_BINARY_DIR}/${name}_seeds)
  add_custom_command(OUTPUT ${seeds}/.made
    COMMAND ${CMAKE_COMMAND} -E make_directory ${seeds}
    COMMAND ${VEXA_DEBIAN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_SEEDS} ${seeds}
    COMMAND ${CMAKE_COMMAND} -E touch ${seeds}/.made
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_SEEDS}
    COMMENT "Seed corpus for ${name}")
  add_custom_target(${name}_seeds DEPENDS ${seeds}/.made)
  add_dependencies(${name} ${name}_seeds)

  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${corpus})
  set(log ${CMAKE_CURRENT_BINARY_DIR}/${name}.log)
  set(options -max_total_time=${VEXA_FUZZ_SECONDS} -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
              -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${name}-)
  if(ARG_DICT)
    list(APPEND options -dict=${CMAKE_CURRENT_SOURCE_DIR}/${ARG_DICT})
  endif()
  add_test(NAME ${name}
    COMMAND sh -c "\"$0\" \"$@\" >'${log}' 2>&1; rc=$?; grep -E '^(Done |stat::)|DONE ' '${log}'; [ $rc -eq 0 ] || tail -n 80 '${log}'; exit $rc"
            $<TARGET_FILE:${name}> ${options} ${corpus} ${seeds})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()
