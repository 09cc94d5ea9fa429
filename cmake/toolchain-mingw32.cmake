# Cross-building for Windows with Debian's MinGW-w64 compilers (the POSIX threads variant, which gives
# std::thread and std::mutex). The product is 32-bit (VEXEL_WINDOWS_ARCH=i686, the default); a 64-bit
# build of the same code (x86_64) runs the tests under Wine on machines that cannot run 32-bit programs.
# Libraries come from Debian's MinGW packages under /usr/<triple> and from the prefix scripts/windows-deps
# fills (VEXEL_WINDOWS_DEPS).
if(NOT VEXEL_WINDOWS_ARCH)
    set(VEXEL_WINDOWS_ARCH i686)
endif()
set(VEXEL_WINDOWS_ARCH ${VEXEL_WINDOWS_ARCH} CACHE STRING "Windows target: i686 (the product) or x86_64")
set(CMAKE_SYSTEM_NAME Windows)
if(VEXEL_WINDOWS_ARCH STREQUAL "x86_64")
    set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
    set(CMAKE_SYSTEM_PROCESSOR x86)
endif()
set(_vexel_triple ${VEXEL_WINDOWS_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${_vexel_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_vexel_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_vexel_triple}-windres)
set(CMAKE_AR ${_vexel_triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${_vexel_triple}-ranlib CACHE FILEPATH "")

if(NOT VEXEL_WINDOWS_DEPS)
    get_filename_component(VEXEL_WINDOWS_DEPS
        ${CMAKE_CURRENT_LIST_DIR}/../build/windows-deps/${VEXEL_WINDOWS_ARCH}/prefix ABSOLUTE)
endif()
set(VEXEL_WINDOWS_DEPS ${VEXEL_WINDOWS_DEPS} CACHE PATH "Prefix of the cross-built dependencies")
# Checks that compile test programs see the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VEXEL_WINDOWS_ARCH VEXEL_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${_vexel_triple} ${VEXEL_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads only the prefix's files, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} ${VEXEL_WINDOWS_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# One program file with no runtime libraries beside it: zlib's static archive, not its DLL's import.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
