# CMake toolchain for building for 64-bit Windows on Debian with MinGW-w64
# (posix threads, so std::thread works) and running the results under Wine.
#
# The third-party libraries come from the prefix that scripts/windows_deps.sh
# builds. Name it with -DLVMAPI_WINDOWS_DEPS=<prefix>, or in the environment
# variable LVMAPI_WINDOWS_DEPS:
#
#   cmake -S . -B build-win -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=scripts/windows/mingw-w64.cmake \
#     -DLVMAPI_WINDOWS_DEPS="$(bash scripts/windows_deps.sh | tail -n1)"

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LVMAPI_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LVMAPI_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LVMAPI_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LVMAPI_MINGW_TRIPLE}-windres)
# The -posix compiler names hide the triple prefix CMake would use to guess
# the binutils, so they are named.
set(CMAKE_AR ${LVMAPI_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${LVMAPI_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${LVMAPI_MINGW_TRIPLE}-objdump CACHE FILEPATH "")
set(CMAKE_STRIP ${LVMAPI_MINGW_TRIPLE}-strip CACHE FILEPATH "")

if(NOT LVMAPI_WINDOWS_DEPS AND DEFINED ENV{LVMAPI_WINDOWS_DEPS})
  set(LVMAPI_WINDOWS_DEPS "$ENV{LVMAPI_WINDOWS_DEPS}")
endif()
if(NOT LVMAPI_WINDOWS_DEPS)
  message(FATAL_ERROR
    "mingw-w64.cmake needs the Windows library prefix: "
    "-DLVMAPI_WINDOWS_DEPS=$(bash scripts/windows_deps.sh | tail -n1)")
endif()
# try_compile() projects read this file again without our cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LVMAPI_WINDOWS_DEPS)

# MinGW's runtime DLLs, which every program built here loads; Wine needs them
# on its path (or beside the .exe) for a program to start at all.
set(LVMAPI_MINGW_RUNTIME_DIRS
  /usr/lib/gcc/${LVMAPI_MINGW_TRIPLE}/12-posix
  /usr/${LVMAPI_MINGW_TRIPLE}/lib)

# Headers, libraries and CMake packages only from the prefix and MinGW's
# sysroot: a host library found by mistake would link or fail late.
set(CMAKE_FIND_ROOT_PATH "${LVMAPI_WINDOWS_DEPS}" /usr/${LVMAPI_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config looks in the prefix and nowhere else.
set(PKG_CONFIG_EXECUTABLE pkg-config CACHE FILEPATH "")
set(ENV{PKG_CONFIG_LIBDIR} "${LVMAPI_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Debian's wine64 package has no /usr/bin/wine64; this is its loader.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
