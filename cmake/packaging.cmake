# Install layout and packages: `cmake --build --preset windows --target package` makes the .zip; the
# .debs come from debian/ (`debian/rules clean binary`). Each program installs itself in the
# directory that defines it, into NORVO_INSTALL_BINDIR, with norvo_install_program.

# Installs a program and lists it in NORVO_INSTALLED_PROGRAMS, whose manual pages the tests
# hold against its --help.
function(norvo_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${NORVO_INSTALL_BINDIR})
  set_property(GLOBAL APPEND PROPERTY NORVO_INSTALLED_PROGRAMS ${target})
endfunction()

if(WIN32)
  # The zip holds one folder (norvo-vtap-VERSION-win64): the programs beside the install script,
  # which finds norvo-vtap.exe there.
  set(NORVO_INSTALL_BINDIR .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_SYSTEM_NAME win64)
else()
  # /usr/bin, where linux/host/norvo-vtap.service's ExecStart looks.
  set(NORVO_INSTALL_BINDIR bin)
  return()
endif()

set(CPACK_PACKAGE_NAME norvo-vtap)
set(CPACK_PACKAGE_VENDOR NorvoVTap)
set(CPACK_PACKAGE_CONTACT "NorvoVTap maintainers <maintainers@norvovtap.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Tap-confirmation service: matches laptop tap-sensor reports with phone taps")
set(CPACK_STRIP_FILES ON)
include(CPack)
