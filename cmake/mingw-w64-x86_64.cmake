# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model, for std::thread):
#   cmake -S . -B build-win --toolchain cmake/mingw-w64-x86_64.cmake
# Libraries built for Windows (liblzo2) are looked up under ZEMBRA_WIN_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(ZEMBRA_WIN_PREFIX "" CACHE PATH "Install prefix of the libraries built for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${ZEMBRA_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads only the .pc files of the Windows libraries (never the Linux ones).
# (The file is read again for CMake's compiler checks, without the cache: keep the first.)
if(ZEMBRA_WIN_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} "${ZEMBRA_WIN_PREFIX}/lib/pkgconfig")
endif()
set(PKG_CONFIG_USE_CMAKE_PREFIX_PATH OFF)
