# Packaging checks: manual page, install tree, Debian package, bash completion,
# and a run the way the systemd unit starts vorta.
set(PACKAGING_CHECK ${CMAKE_SOURCE_DIR}/tests/packaging/check.sh)

add_test(NAME packaging_manlint COMMAND ${PACKAGING_CHECK} manlint ${CMAKE_SOURCE_DIR})
add_test(NAME packaging_install COMMAND ${PACKAGING_CHECK} install ${CMAKE_BINARY_DIR})
add_test(NAME packaging_deb COMMAND ${PACKAGING_CHECK} deb ${CMAKE_BINARY_DIR})
add_test(NAME packaging_completion COMMAND ${PACKAGING_CHECK} completion ${CMAKE_SOURCE_DIR})
set_tests_properties(packaging_manlint packaging_install packaging_deb packaging_completion
  PROPERTIES LABELS packaging TIMEOUT 300)
# cpack builds and installs the whole tree itself; keep it apart from the
# install test, which installs from the same build folder.
set_tests_properties(packaging_deb PROPERTIES RESOURCE_LOCK vorta_build_install)
set_tests_properties(packaging_install PROPERTIES RESOURCE_LOCK vorta_build_install)

add_test(NAME service_check
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/service-check.sh $<TARGET_FILE:vorta>)
set_tests_properties(service_check PROPERTIES
  LABELS "service;e2e" FIXTURES_REQUIRED pulse RUN_SERIAL TRUE TIMEOUT 600
  ENVIRONMENT "VORTA_PULSE_DIR=${CMAKE_BINARY_DIR}/pulse")
