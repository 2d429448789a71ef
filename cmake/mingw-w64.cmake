# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads).
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# Libraries Debian does not ship for MinGW (libpng) are cross-built by
# scripts/build-windows into .deps/mingw, which is searched like the sysroot.
#
# Every executable is linked fully statically (libstdc++, libgcc,
# winpthread and every library found here), so it needs no DLL beyond
# those Windows itself ships.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TWINDIAL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TWINDIAL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TWINDIAL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TWINDIAL_MINGW_TRIPLET}-windres)

# Headers and libraries come from the MinGW sysroot and the deps prefix,
# programs from the build machine.
get_filename_component(TWINDIAL_MINGW_DEPS "${CMAKE_CURRENT_LIST_DIR}/../.deps/mingw" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${TWINDIAL_MINGW_TRIPLET} ${TWINDIAL_MINGW_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The sysroot has both libz.a and libz.dll.a: take the static one.
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Release executables carry no symbols (the static runtime brings its own).
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
