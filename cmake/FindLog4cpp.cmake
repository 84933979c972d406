# SPDX-FileCopyrightText: 2026 The vemutils authors
# SPDX-License-Identifier: MIT

# Finds log4cpp and defines the imported target Log4cpp::Log4cpp.
#
# Looks for the development link library first and falls back to the
# versioned runtime library, which is all a cross build has when only the
# target's runtime package is installed (the headers are the same on every
# architecture).
find_path(Log4cpp_INCLUDE_DIR log4cpp/Category.hh)
find_library(Log4cpp_LIBRARY NAMES log4cpp liblog4cpp.so.5)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Log4cpp REQUIRED_VARS Log4cpp_LIBRARY Log4cpp_INCLUDE_DIR)

if(Log4cpp_FOUND AND NOT TARGET Log4cpp::Log4cpp)
  add_library(Log4cpp::Log4cpp UNKNOWN IMPORTED)
  set_target_properties(Log4cpp::Log4cpp PROPERTIES
    IMPORTED_LOCATION "${Log4cpp_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${Log4cpp_INCLUDE_DIR}")
endif()
mark_as_advanced(Log4cpp_INCLUDE_DIR Log4cpp_LIBRARY)
