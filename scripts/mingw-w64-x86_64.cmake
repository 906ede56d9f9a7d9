# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix thread model).
#   cmake -DCMAKE_TOOLCHAIN_FILE=scripts/mingw-w64-x86_64.cmake -DIGXL_WINDOWS_DEPS=<prefix> ...
# IGXL_WINDOWS_DEPS is where scripts/build-windows.sh installed the dependencies it built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(IGXL_MINGW_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${IGXL_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${IGXL_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${IGXL_MINGW_HOST}-windres)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES IGXL_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${IGXL_MINGW_HOST} ${IGXL_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Third-party libraries are linked statically (their headers want to know); zlib too.
set(CMAKE_C_FLAGS_INIT "-DPCRE2_STATIC -DZIP_STATIC")
set(CMAKE_CXX_FLAGS_INIT "-DPCRE2_STATIC -DZIP_STATIC")
# Our DLLs export their own functions only. MinGW exports everything by default, including what
# the static libraries linked into a DLL hold, and a program linking one of those libraries too
# would then see its functions twice. (Not "ALL": CMake links a DLL's own objects from an archive.)
set(CMAKE_SHARED_LINKER_FLAGS_INIT
    "-Wl,--exclude-libs,libzip.a:libpcre2-8.a:libisal.a:libexpat.a:libfreexl.a:libz.a:libiconv.a:libutil.a:libcheck_leaf.a")
set(ZLIB_LIBRARY /usr/${IGXL_MINGW_HOST}/lib/libz.a CACHE FILEPATH "")
set(ZLIB_INCLUDE_DIR /usr/${IGXL_MINGW_HOST}/include CACHE PATH "")

# Programs built here run under Wine: tests, test discovery and build steps that run a tool.
find_program(IGXL_WINE NAMES wine64 wine)
if(IGXL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${IGXL_WINE})
endif()
