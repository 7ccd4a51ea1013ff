# Windows tests run under Wine, in one fresh prefix per test run that the wine_prefix
# fixture (windows/tests) makes and removes.
set(NORVO_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(NORVO_WINE_ENVIRONMENT "WINEPREFIX=${NORVO_WINE_PREFIX};WINEDEBUG=-all")

# norvo_wine_test(NAME COMMAND...): a test that needs the prefix.
function(norvo_wine_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine_prefix
    ENVIRONMENT "${NORVO_WINE_ENVIRONMENT}"
    TIMEOUT 300)
endfunction()
