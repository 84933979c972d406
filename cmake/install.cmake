# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Install rules. Components follow the usual distribution split:
#   Runtime      the shared objects and their SONAME links
#   Development  headers, the link-time names, the CMake package, vemutils.pc
#   Tools        the vemlink program (needs Runtime), its manual page and
#                its bash completion
include(CMakePackageConfigHelpers)

set(VEMUTILS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vemutils)

install(TARGETS vemutils vemlog EXPORT vemutilsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
    NAMELINK_COMPONENT Development)
install(FILES ${VEMUTILS_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vemutils COMPONENT Development)
install(FILES vemlog/log4cpp.properties
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT Development)

# Installed under any prefix (~/.local, /opt/vemutils), vemlink and the Python
# extension find the libraries installed with them through a run path
# relative to themselves. Distribution packages leave it out with
# -DCMAKE_SKIP_INSTALL_RPATH=ON (debian/rules does), the libraries being
# where the system looks.
function(vemutils_relative_rpath target dir)
  if(IS_ABSOLUTE "${dir}" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(rpath "${CMAKE_INSTALL_FULL_LIBDIR}") # no fixed way from one to the other
  else()
    file(RELATIVE_PATH up "/prefix/${dir}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
    string(REGEX REPLACE "/$" "" up "${up}")
    set(rpath "$ORIGIN/${up}")
  endif()
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${rpath}")
endfunction()
vemutils_relative_rpath(vemlink "${CMAKE_INSTALL_BINDIR}")
if(TARGET _vemutils)
  vemutils_relative_rpath(_vemutils "${VEMUTILS_PYTHON_INSTALL_DIR}/vemutils")
endif()

install(TARGETS vemlink RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tools)
install(FILES tools/vemlink/vemlink.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Tools)
# Where bash-completion loads a command's completion from on first use.
set(VEMUTILS_BASH_COMPLETION_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  CACHE STRING "Folder for vemlink's bash completion")
install(FILES tools/vemlink/vemlink.bash RENAME vemlink
  DESTINATION ${VEMUTILS_BASH_COMPLETION_DIR} COMPONENT Tools)
# vemlink in Wireshark: the Lua dissector in the global Lua plugin folder
# and the extcap entry, a script that runs vemlink in extcap mode (Debian's
# Wireshark 4.0 looks in lib/<multiarch>/wireshark/plugins and .../extcap).
set(VEMLINK_WIRESHARK_DIR ${CMAKE_INSTALL_LIBDIR}/wireshark)
install(FILES tools/vemlink/capture/wireshark/vemlink.lua
  DESTINATION ${VEMLINK_WIRESHARK_DIR}/plugins COMPONENT Tools)
file(RELATIVE_PATH VEMLINK_EXTCAP_TO_BIN ${CMAKE_INSTALL_FULL_LIBDIR}/wireshark/extcap
  ${CMAKE_INSTALL_FULL_BINDIR})
configure_file(tools/vemlink/capture/wireshark/extcap.in ${PROJECT_BINARY_DIR}/extcap/vemlink @ONLY)
install(PROGRAMS ${PROJECT_BINARY_DIR}/extcap/vemlink
  DESTINATION ${VEMLINK_WIRESHARK_DIR}/extcap COMPONENT Tools)

install(EXPORT vemutilsTargets NAMESPACE vemutils::
  DESTINATION ${VEMUTILS_CMAKE_DIR} COMPONENT Development)
configure_package_config_file(cmake/vemutilsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vemutilsConfig.cmake INSTALL_DESTINATION ${VEMUTILS_CMAKE_DIR})
# Same major version, same SONAME: any 0.x satisfies a request for 0.y <= 0.x.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vemutilsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/vemutilsConfig.cmake
    ${PROJECT_BINARY_DIR}/vemutilsConfigVersion.cmake
    ${PROJECT_SOURCE_DIR}/cmake/FindLog4cpp.cmake
  DESTINATION ${VEMUTILS_CMAKE_DIR} COMPONENT Development)

# vemutils.pc is written at install time so that it names the prefix actually
# installed to (cmake --install --prefix), not the one configured.
install(CODE "
  set(VEMUTILS_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(VEMUTILS_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_DESCRIPTION \"${PROJECT_DESCRIPTION}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(VEMUTILS_PC_IN \"${PROJECT_SOURCE_DIR}/cmake/vemutils.pc.in\")
  set(VEMUTILS_PC_OUT \"${PROJECT_BINARY_DIR}/vemutils.pc\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/write_pc.cmake\")
" COMPONENT Development)
install(FILES ${PROJECT_BINARY_DIR}/vemutils.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
