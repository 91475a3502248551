# Settings of the Windows (mingw-w64) build, included by the top-level CMakeLists.txt.
# The window is built when a Qt for Windows is given (ZEMBRA_WIN_QT, see
# scripts/win/build-qt.sh); the simulated phone and the benchmarks need pseudo-terminals, so
# they are Linux-only.
if(NOT ZEMBRA_WIN_QT)
  set(ZEMBRA_BUILD_APP OFF)
endif()
set(ZEMBRA_LINUX_ONLY sim bench)
# The test programs that run on Windows: the platform services, the job model, the codec,
# the records.
set(ZEMBRA_WINDOWS_TESTS platform job protocol records app)

# GoogleTest from Debian's sources, built for Windows (before the settings below, which are
# for our own code).
if(ZEMBRA_BUILD_TESTS AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# The POSIX names that the platform layer's shared files and the test programs use, with
# their Windows meaning, before each of their sources (the rest of the product uses none:
# what differs between the systems is a platform service).
set(ZEMBRA_POSIX_COMPAT -include ${PROJECT_SOURCE_DIR}/platform/win/PosixCompat.h)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _FILE_OFFSET_BITS=64 __USE_MINGW_ANSI_STDIO=1)
# Static programs run as they are (under Wine too): no mingw DLLs to ship beside them.
# Every program sets files to binary mode by default (platform/win/PosixCompat.cpp).
add_link_options(-static -Wl,-u,zembra_binary_files)

# The programs' resources: the application manifest (UTF-8 process code page, supported
# systems), given to zembra.exe and zembra-cli.exe only.
enable_language(RC)
set(ZEMBRA_WIN_RESOURCES ${PROJECT_SOURCE_DIR}/packaging/windows/zembra.rc)

# The code includes <lzo/...> as from /usr/include on Linux.
if(ZEMBRA_WIN_PREFIX)
  list(TRANSFORM ZEMBRA_WIN_PREFIX APPEND /include OUTPUT_VARIABLE _win_includes)
  include_directories(SYSTEM ${_win_includes})
endif()
