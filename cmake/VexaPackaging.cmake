# How each program folder puts its files into the suite's package (see
# packaging/README.md). Every rule names the program as its install
# component; packaging/ (added last) turns the registered services into the
# package's maintainer scripts and configures CPack.
include(GNUInstallDirs)
# "install" and "package" build only what the package holds (the
# vexaorla_deb target depends on exactly that), not every test and tool.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# Programs that nobody starts by name: services, and the installer with its
# resources beside it.
set(VEXA_INSTALL_LIBDIR lib/vexaorla)
# System integration files go below /lib (Debian 12's place for them).
set(VEXA_INSTALL_SYSTEMD_UNITDIR /lib/systemd/system)

# vexa_install_program(<target> COMPONENT <name> [USER])
# USER: a program the user starts by name (/usr/bin); else /usr/lib/vexaorla.
function(vexa_install_program target)
  cmake_parse_arguments(ARG "USER" "COMPONENT" "" ${ARGN})
  if(ARG_USER)
    set(dest ${CMAKE_INSTALL_BINDIR})
  else()
    set(dest ${VEXA_INSTALL_LIBDIR})
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${dest} COMPONENT ${ARG_COMPONENT})
  set_property(GLOBAL APPEND PROPERTY VEXA_PACKAGE_TARGETS ${target})
endfunction()

# vexa_install_desktop_entry(<id> COMPONENT <name>)
# packaging/desktop/<id>.desktop and its icon packaging/icons/<id>.svg.
function(vexa_install_desktop_entry id)
  cmake_parse_arguments(ARG "" "COMPONENT" "" ${ARGN})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/desktop/${id}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${ARG_COMPONENT})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/${id}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT ${ARG_COMPONENT})
endfunction()

# vexa_package_service(<unit file> COMPONENT <name>)
# Installs a systemd unit; the package enables and starts it on install and
# stops and disables it on removal.
function(vexa_package_service unit)
  cmake_parse_arguments(ARG "" "COMPONENT" "" ${ARGN})
  install(FILES ${unit} DESTINATION ${VEXA_INSTALL_SYSTEMD_UNITDIR} COMPONENT ${ARG_COMPONENT})
  get_filename_component(name ${unit} NAME)
  set_property(GLOBAL APPEND PROPERTY VEXA_PACKAGE_SERVICES ${name})
endfunction()
