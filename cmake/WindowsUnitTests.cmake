# Unit tests of the Windows build, run under wine (vorta_unit.exe).
# GoogleTest is built from Debian's source package with the cross compiler.
# Only the in-process tests whose sources build without POSIX calls, without
# libmpg123 and without running the program as a child are taken; the rest
# exercise Linux services or the Linux binary and run in the Linux build.
set(VORTA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VORTA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB VORTA_UNIT_CANDIDATES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
set(VORTA_WINDOWS_UNIT_SOURCES)
foreach(source ${VORTA_UNIT_CANDIDATES})
  file(READ ${source} text)
  if(NOT text MATCHES "#include [<\"](unistd|fcntl|pty|termios|signal|poll|sys/[a-z]+|lame/lame|Subprocess|Mp3Decode|PulseServer|Signals)\\.h[>\"]")
    list(APPEND VORTA_WINDOWS_UNIT_SOURCES ${source})
  endif()
endforeach()
add_executable(vorta_unit ${VORTA_WINDOWS_UNIT_SOURCES})
target_include_directories(vorta_unit PRIVATE ${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_SOURCE_DIR}/tests/unit)
target_compile_definitions(vorta_unit PRIVATE VORTA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(vorta_unit PRIVATE vortacore GTest::gtest_main)
