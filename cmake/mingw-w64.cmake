# Cross toolchain for the Windows build: MinGW-w64, x64, posix thread model
# (the win32 model has no std::mutex, which GoogleTest needs), linked
# statically so Quillbeck.exe needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# -O2 rather than CMake's -O3 for Release: the program gains nothing from
# -O3, and GCC 12 at -O3 reports false -Wrestrict overlaps inside
# std::string concatenation, which -Werror turns into failures.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags for Release builds")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags for Release builds")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs and the build's own tools run under Wine, headless even in a
# desktop session (suites that need a display bring their own). The bound
# ends a program that would wait for ever (a message box under the null
# display driver), so neither the build nor ctest can hang.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run;--headless;--timeout;600")
