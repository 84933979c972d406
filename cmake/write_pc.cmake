# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Writes vemutils.pc at install time, for the prefix being installed to.
# In: CMAKE_INSTALL_PREFIX, VEMUTILS_PC_LIBDIR, VEMUTILS_PC_INCLUDEDIR,
#     PROJECT_DESCRIPTION, PROJECT_VERSION, VEMUTILS_PC_IN, VEMUTILS_PC_OUT.
#
# A folder relative to the prefix, or absolute but inside it, is written as
# ${prefix}/..., so PKG_CONFIG_SYSROOT_DIR and a moved prefix keep working; an
# absolute folder elsewhere is written as it is. Never ${prefix}//usr/...
set(prefix "${CMAKE_INSTALL_PREFIX}")

function(vemutils_pc_dir out path)
  if(NOT IS_ABSOLUTE "${path}")
    set(${out} "\${prefix}/${path}" PARENT_SCOPE)
    return()
  endif()
  file(RELATIVE_PATH below "${prefix}" "${path}")
  if(below STREQUAL "")
    set(${out} "\${prefix}" PARENT_SCOPE)
  elseif(below MATCHES "^\\.\\.(/|$)")
    set(${out} "${path}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${below}" PARENT_SCOPE)
  endif()
endfunction()

vemutils_pc_dir(libdir "${VEMUTILS_PC_LIBDIR}")
vemutils_pc_dir(includedir "${VEMUTILS_PC_INCLUDEDIR}")
configure_file("${VEMUTILS_PC_IN}" "${VEMUTILS_PC_OUT}" @ONLY)
