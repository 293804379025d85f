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
