# qorvex-host.exe tcg-log under Wine against the golden JSON of tests/data (the same files the
# Linux build is held to). Included from this folder's CMakeLists.txt in the Windows build.
#
# The script makes its own throw-away prefix (it writes HKLM values and C:\windows\Logs), so it
# neither needs nor disturbs the shared prefix of the other Windows tests.
if(TARGET qorvex-host AND TARGET qorvex)
  add_test(NAME windows.tcg_log_cli
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/tcg_log_wine.sh $<TARGET_FILE:qorvex-host>
                   ${QORVEX_ROOT} ${QORVEX_SHARED_DIR} ${CMAKE_BINARY_DIR}/wineprefix-tcglog)
  # Creating a prefix takes Wine a while on a cold machine.
  set_tests_properties(windows.tcg_log_cli PROPERTIES TIMEOUT 600)
endif()
