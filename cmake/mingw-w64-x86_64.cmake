# Cross build for 64-bit Windows with Debian's mingw-w64:
#   cmake -S . -B build-win --toolchain cmake/mingw-w64-x86_64.cmake \
#         -DZEMBRA_WIN_PREFIX="<lzo2>;<sqlite3>;<libpq>" -DZEMBRA_WIN_QT=<Qt for Windows>
# Libraries built for Windows (liblzo2, SQLite, libpq) are looked up under the prefixes of
# ZEMBRA_WIN_PREFIX; Qt (for the window) under ZEMBRA_WIN_QT.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-compilers.cmake)

set(ZEMBRA_WIN_PREFIX "" CACHE STRING "Install prefixes of the libraries built for Windows (a list)")
set(ZEMBRA_WIN_QT "" CACHE PATH "Install prefix of Qt built for Windows (empty: no window)")
list(APPEND CMAKE_FIND_ROOT_PATH ${ZEMBRA_WIN_PREFIX} ${ZEMBRA_WIN_QT})

# pkg-config reads only the .pc files of the Windows libraries (never the Linux ones).
# (The file is read again for CMake's compiler checks, without the cache: keep the first.)
if(ZEMBRA_WIN_PREFIX)
  list(TRANSFORM ZEMBRA_WIN_PREFIX APPEND /lib/pkgconfig OUTPUT_VARIABLE _pc)
  string(REPLACE ";" ":" _pc "${_pc}")
  set(ENV{PKG_CONFIG_LIBDIR} "${_pc}")
endif()
set(PKG_CONFIG_USE_CMAKE_PREFIX_PATH OFF)
