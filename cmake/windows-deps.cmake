# Dependencies of the Windows build, taken from Debian's host packages.

# fmt: Debian ships no fmt sources to build for mingw, so the host's fmt 9 headers are used
# header-only. Only the fmt folder is exposed, never the rest of /usr/include.
set(_fmt_root ${CMAKE_BINARY_DIR}/fmt-include)
file(MAKE_DIRECTORY ${_fmt_root})
file(CREATE_LINK /usr/include/fmt ${_fmt_root}/fmt SYMBOLIC)
add_library(norvo_fmt_header_only INTERFACE)
target_include_directories(norvo_fmt_header_only SYSTEM INTERFACE ${_fmt_root})
target_compile_definitions(norvo_fmt_header_only INTERFACE FMT_HEADER_ONLY)
add_library(fmt::fmt ALIAS norvo_fmt_header_only)

# GoogleTest from the sources of Debian's googletest package, built with the project's compiler.
if(NORVO_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/wine-tests.cmake)
