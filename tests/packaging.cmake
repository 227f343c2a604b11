# What gets installed: the manual page, the bash completion and cmake --install;
# the Debian package built from a clean copy of the tree (lintian,
# hardening-check, contents, the systemd unit).
set(PACKAGING_CHECK ${CMAKE_SOURCE_DIR}/tests/packaging/check.sh)
set(PACKAGING_DEB_DIR ${CMAKE_BINARY_DIR}/deb)

add_test(NAME packaging_docs COMMAND ${PACKAGING_CHECK} docs ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
add_test(NAME packaging_deb COMMAND ${PACKAGING_CHECK} deb ${CMAKE_SOURCE_DIR} ${PACKAGING_DEB_DIR})
set_tests_properties(packaging_docs packaging_deb PROPERTIES LABELS packaging TIMEOUT 600)

