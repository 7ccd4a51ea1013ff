# Debian's hardening flags (stack protector, FORTIFY, full RELRO with BIND_NOW) for the release build,
# the tree the tests run on and debian/rules packs, so CI builds the release once. They go in front of
# the build type's own flags, which keep their optimisation level. The paths are mapped by the project.
find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env
            "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
            ${DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE _dpkg_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set(CMAKE_CXX_FLAGS "${_dpkg_CPPFLAGS} ${_dpkg_CXXFLAGS} ${CMAKE_CXX_FLAGS}")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS "${_dpkg_LDFLAGS} ${CMAKE_${kind}_LINKER_FLAGS}")
endforeach()
