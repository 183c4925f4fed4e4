# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads, for std::thread),
# against the static libraries scripts/windows-deps.sh builds into VELDMOOR_WINDOWS_PREFIX.
# Programs built here run on this machine through Wine, so ctest and gtest_discover_tests work.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_veldmoor_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_veldmoor_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_veldmoor_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_veldmoor_triple}-windres)

if(NOT VELDMOOR_WINDOWS_PREFIX AND DEFINED ENV{VELDMOOR_WINDOWS_PREFIX})
  set(VELDMOOR_WINDOWS_PREFIX "$ENV{VELDMOOR_WINDOWS_PREFIX}")
endif()
if(NOT VELDMOOR_WINDOWS_PREFIX OR NOT EXISTS "${VELDMOOR_WINDOWS_PREFIX}/include/curl/curl.h")
  message(FATAL_ERROR "VELDMOOR_WINDOWS_PREFIX ('${VELDMOOR_WINDOWS_PREFIX}') holds no Windows "
                      "libraries; build them with scripts/windows-deps.sh and pass the folder it "
                      "prints (scripts/build-windows.sh does both)")
endif()
set(VELDMOOR_WINDOWS_PREFIX "${VELDMOOR_WINDOWS_PREFIX}" CACHE PATH
    "Prefix of the cross-built Windows libraries")
# try_compile projects read this file again and need the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELDMOOR_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH "${VELDMOOR_WINDOWS_PREFIX}" /usr/${_veldmoor_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Only static libraries exist in the prefix; the C and C++ runtimes are linked in as well, so a
# program needs no DLL beside it but the system's.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
# FindZLIB adds .dll.a (the import library of zlib1.dll) unless asked for the static one.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# pkg-config sees only the prefix's and the cross zlib's .pc files, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR}
    "${VELDMOOR_WINDOWS_PREFIX}/lib/pkgconfig:/usr/${_veldmoor_triple}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
# wx-config of the prefix, not of the build machine.
set(wxWidgets_CONFIG_EXECUTABLE "${VELDMOOR_WINDOWS_PREFIX}/bin/wx-config")

# Wine's 64-bit loader (Debian ships no wine64 on PATH).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)

# The test lists are read when ctest runs, under the Wine prefix scripts/test-windows.sh sets up,
# not while building, when Wine would make itself a prefix in the real home.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
