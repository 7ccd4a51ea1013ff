# Install layout and packages: `cmake --build --preset release --target package` makes the .deb,
# the same with the windows preset the .zip. Each program installs itself in the directory that
# defines it, into NORVO_INSTALL_BINDIR.
if(WIN32)
  # The zip is flat: the programs beside the install script, which finds norvo-vtap.exe there.
  set(NORVO_INSTALL_BINDIR .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_SYSTEM_NAME win64)
else()
  # /usr/bin, where linux/host/norvo-vtap.service's ExecStart looks.
  set(NORVO_INSTALL_BINDIR bin)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
endif()

set(CPACK_PACKAGE_NAME norvo-vtap)
set(CPACK_PACKAGE_VENDOR NorvoVTap)
set(CPACK_PACKAGE_CONTACT "NorvoVTap maintainers <norvo-vtap@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Tap-confirmation service: matches laptop tap-sensor reports with phone taps")
set(CPACK_STRIP_FILES ON)
include(CPack)
