# What gets installed: manual page, completion, cmake --install; the Debian
# package from a clean copy of the tree; its binary run the way its unit runs it.
set(PACKAGING_CHECK ${CMAKE_SOURCE_DIR}/tests/packaging/check.sh)
set(PACKAGING_DEB_DIR ${CMAKE_BINARY_DIR}/deb)

add_test(NAME packaging_docs COMMAND ${PACKAGING_CHECK} docs ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
add_test(NAME packaging_deb COMMAND ${PACKAGING_CHECK} deb ${CMAKE_SOURCE_DIR} ${PACKAGING_DEB_DIR})
set_tests_properties(packaging_docs PROPERTIES LABELS packaging TIMEOUT 600)
# A release build of its own from scratch (a minute or two): a stage of its own.
set_tests_properties(packaging_deb PROPERTIES LABELS "packaging;debian" TIMEOUT 900)
set_tests_properties(packaging_deb PROPERTIES FIXTURES_SETUP debian_package)

add_test(NAME service_check COMMAND ${CMAKE_SOURCE_DIR}/scripts/service-check.sh ${PACKAGING_DEB_DIR}/root)
set_tests_properties(service_check PROPERTIES
  LABELS "service;packaging;debian" FIXTURES_REQUIRED "pulse;debian_package" RUN_SERIAL TRUE TIMEOUT 300
  ENVIRONMENT "VORTA_PULSE_DIR=${CMAKE_BINARY_DIR}/pulse")
