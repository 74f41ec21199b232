# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain, the
# POSIX-threads variant (std::thread and std::mutex over winpthreads):
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
#         -DTOVIK_WINDOWS_DEPS=$PWD/build/windows/deps
#
# Packages: g++-mingw-w64-x86-64-posix, libz-mingw-w64-dev; the libraries
# Debian does not ship for MinGW (GoogleTest, libxlsxwriter, nlohmann-json)
# come from scripts/windows-deps, which installs them into TOVIK_WINDOWS_DEPS.
# scripts/build-windows does all of it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOVIK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOVIK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVIK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVIK_MINGW_TRIPLET}-windres)

# The prefix of the cross-built dependencies. Try-compile projects read this
# file again, so the setting is passed on to them.
set(TOVIK_WINDOWS_DEPS "" CACHE PATH "Prefix of the libraries built for Windows (scripts/windows-deps)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TOVIK_WINDOWS_DEPS)

# Headers, libraries and CMake packages come from the MinGW sysroot and the
# dependency prefix only, never from the build machine's /usr; programs
# (pkg-config, code generators) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TOVIK_MINGW_TRIPLET})
if(TOVIK_WINDOWS_DEPS)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${TOVIK_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: libgcc, libstdc++ and winpthreads go into each program, so
# a program needs no DLL beyond Windows' own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Test programs run under Wine (ctest, and GoogleTest's test discovery).
get_filename_component(_tovik_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_tovik_root}/scripts/wine-run)
