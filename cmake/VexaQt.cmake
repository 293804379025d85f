# Qt 6 for the graphical programs (editor, installer) and their tests.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Test)

# Leaks that Qt's platform libraries (fontconfig, the offscreen and xcb
# plugins) keep for the life of the process; never our code.
set(VEXA_QT_LSAN_SUPPRESSIONS ${CMAKE_CURRENT_LIST_DIR}/qt-lsan.supp)

# vexa_add_qtest(<name> SOURCES ... LIBS ... [LABELS ...])
# One QtTest executable registered with CTest, run on the offscreen platform.
function(vexa_add_qtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test Qt6::Widgets)
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    LABELS "${ARG_LABELS}"
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${VEXA_QT_LSAN_SUPPRESSIONS}")
endfunction()
