# The suite's package in the guest: a Debian root (tests/vm/cache, built
# once per set of packages with mmdebstrap) booted with systemd as PID 1,
# where the package is installed with apt, used, removed and purged. The
# same image carries the demonstration that tools/run starts.
#   cmake --build <dir> --target vexa_guest_package; ctest -L guest -R package
# The package and the user at the console, for this test and the demonstration (tools/demo).
add_library(vexa_guest_suite STATIC package_guest.cpp daemon_guest.cpp)
target_link_libraries(vexa_guest_suite PUBLIC vexa_guest_support PRIVATE vexa_keymap vexa_prefs)
add_executable(vexa_guest_package_test package_test.cpp scenario.cpp)
target_link_libraries(vexa_guest_package_test PRIVATE vexa_guest_suite vexa_keymap)
# It saves the user's tables as the editor does.
vexa_app_identity(vexa_guest_package_test NAME KeymapEditor VERSION 4.0.2 ID mirlan.editor.KeymapEditor)

set(package_initramfs ${CMAKE_CURRENT_BINARY_DIR}/initramfs-package.cpio)
get_filename_component(package_name ${VEXA_PACKAGE_FILE} NAME)
add_custom_command(OUTPUT ${package_initramfs}
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make-initramfs ${package_initramfs} ${guest_kernel}
          ${PROJECT_SOURCE_DIR}/packaging/dbus/mirlan.driver.VexaOrla.conf
          ${PROJECT_SOURCE_DIR}/packaging/systemd/mirlan.driver.VexaOrla.service
          $<TARGET_FILE:VexaOrla> $<TARGET_FILE:vexa_guest_package_test> $<TARGET_FILE:vexa_logind_standin>
          $<TARGET_FILE:vexa_guest_demo> ${VEXA_PACKAGE_FILE}
  DEPENDS VexaOrla vexa_guest_package_test vexa_logind_standin vexa_guest_demo vexaorla_deb ${VEXA_PACKAGE_FILE}
          ${guest_kernel}/version
          ${CMAKE_CURRENT_SOURCE_DIR}/make-initramfs ${CMAKE_CURRENT_SOURCE_DIR}/guest-init
  COMMENT "Building the package test's initramfs")
# Checks the cache on every build; makes the root only when the package's
# dependencies (or the kernel) changed.
add_custom_target(vexa_debian_root
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make-debian-root ${guest_cache} ${guest_kernel} ${VEXA_PACKAGE_FILE}
  DEPENDS vexaorla_deb ${guest_kernel}/version
  COMMENT "Checking the guest's Debian root"
  USES_TERMINAL)
add_custom_target(vexa_guest_package DEPENDS ${package_initramfs})
add_dependencies(vexa_guest_package vexa_debian_root)

add_test(NAME guest.package
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run-guest ${guest_kernel} ${package_initramfs} 600
          --disk ${guest_cache}/debian-root.ext4
          /usr/local/bin/vexa_guest_package_test /usr/local/bin/${package_name})
set_tests_properties(guest.package PROPERTIES LABELS guest TIMEOUT 600)
