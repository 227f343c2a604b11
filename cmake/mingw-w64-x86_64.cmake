# Cross-building the Windows program with Debian's MinGW-w64 (64-bit).
# The posix thread model of the compiler provides std::thread and std::mutex;
# everything, the C++ runtime and winpthreads included, is linked into the one
# executable, so it needs no DLL beyond the system's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Programs built here run under wine (tests).
find_program(VORTA_WINE NAMES wine64 wine)
if(VORTA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORTA_WINE})
endif()
