#!/usr/bin/env bash
# Cross-builds both tools for 64-bit Windows on Debian 12 and packs dist/vantor-windows-x64.zip.
#
#   scripts/build-windows.sh            toolchain, dependencies (cached), our code, the package
#   JOBS=1 scripts/build-windows.sh     fewer parallel compiles
#
# Every dependency comes from Debian: the MinGW-w64 cross compiler, Wine and zlib as Debian's own
# packages, the rest built here for x86_64-w64-mingw32 from Debian's source packages of the same
# archive this machine installs from. Those builds land in build-windows/deps/ and are reused by
# the next run (a stamp per dependency names its source version and build recipe).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$ROOT/build-windows
DEPS=$OUT/deps
SRC=$DEPS/src
PREFIX=$DEPS/prefix
HOST=x86_64-w64-mingw32
JOBS=${JOBS:-$(nproc)}
NICE=(nice -n 10)
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

log() { printf '== %s\n' "$*"; }

# ---- 1. toolchain, Wine and what the native half needs --------------------------------------
# The posix thread model gives std::thread and std::mutex; the runtime DLLs ship in the package.
WIN_PKGS=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
          wine wine64 libz-mingw-w64-dev nasm dpkg-dev cmake make pkg-config zip unzip xz-utils)
missing=()
for p in "${WIN_PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# The macro project (bin/vbaProject.bin) is the same file on every OS: it is built by the native
# builder, whose libgsf (and glib behind it) the Windows package therefore never needs.
scripts/install-deps.sh >/dev/null

# ---- 2. source packages ---------------------------------------------------------------------
# deb-src entries for exactly the Debian archives the machine already installs from.
SRC_LIST=/etc/apt/sources.list.d/vantor-windows-deb-src.sources
if [ ! -f "$SRC_LIST" ]; then
  entries=$(
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] && [ "$f" != "$SRC_LIST" ] || continue
      # deb822 stanzas of the Debian archive with "deb" turned into "deb-src".
      awk 'BEGIN { RS = ""; ORS = "\n\n" }
           {
             n = split($0, line, "\n"); deb = 0; debian = 0; off = 0; out = ""
             for (i = 1; i <= n; i++) {
               if (line[i] ~ /^Types:/ && (" " substr(line[i], 7) " ") ~ /[ \t]deb[ \t]/) { deb = 1; line[i] = "Types: deb-src" }
               if (line[i] ~ /^URIs:.*debian/) debian = 1
               if (line[i] ~ /^Enabled:[ \t]*no/) off = 1
               out = out line[i] "\n"
             }
             if (deb && debian && !off) { sub(/\n$/, "", out); print out }
           }' "$f"
    done
  )
  legacy=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
           awk '$1 == "deb" && /debian/ { $1 = "deb-src"; print }' || true)
  if [ -z "$entries" ] && [ -z "$legacy" ]; then
    echo "build-windows: no Debian archive found in /etc/apt/sources.list*" >&2
    exit 1
  fi
  log "adding deb-src entries ($SRC_LIST)"
  printf '%s\n' "$entries" | $SUDO tee "$SRC_LIST" >/dev/null
  if [ -n "$legacy" ]; then
    printf '%s\n' "$legacy" | $SUDO tee /etc/apt/sources.list.d/vantor-windows-deb-src.list >/dev/null
  fi
  $SUDO apt-get update -qq
fi

mkdir -p "$SRC" "$PREFIX/include" "$PREFIX/lib"
# zlib is Debian's MinGW package; linked statically like the rest: the linker meets libz.a in
# our prefix before the import library libz.dll.a in the MinGW folder.
ln -sf "/usr/$HOST/lib/libz.a" "$PREFIX/lib/libz.a"

# Newest version first that the archive can actually deliver (a mirror may lack the newest).
source_versions() {
  apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -u |
    sort -r -V
}
upstream_of() { local v=${1#*:}; echo "${v%-*}"; }

# Fetches and unpacks Debian's source package $1 (Debian's patches applied) into $SRC; prints
# the folder.
fetch_source() {
  local pkg=$1 v dir
  for v in $(source_versions "$pkg"); do
    dir=$SRC/$pkg-$(upstream_of "$v")
    if [ -f "$dir/.fetched-$v" ]; then echo "$dir"; return; fi
    rm -rf "$dir"
    if (cd "$SRC" && apt-get source -qq "$pkg=$v" >"$SRC/$pkg.log" 2>&1); then
      touch "$dir/.fetched-$v"
      echo "$dir"
      return
    fi
  done
  echo "build-windows: cannot fetch Debian's source package $pkg (see $SRC/$pkg.log)" >&2
  return 1
}

# Cache key of a dependency: its source version and this script's recipe for it.
recipe_hash() { declare -f "$1" | sha256sum | cut -c1-12; }
built() { [ -f "$PREFIX/.built-$1-$2" ]; }
mark_built() { rm -f "$PREFIX/.built-$1-"*; touch "$PREFIX/.built-$1-$2"; }

CMAKE_DEP=(cmake -G "Unix Makefiles" -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64
           -DCMAKE_C_COMPILER=$HOST-gcc-posix -DCMAKE_CXX_COMPILER=$HOST-g++-posix
           -DCMAKE_RC_COMPILER=$HOST-windres -DCMAKE_FIND_ROOT_PATH="/usr/$HOST;$PREFIX"
           -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY
           -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY
           -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF
           -DZLIB_LIBRARY="/usr/$HOST/lib/libz.a" -DZLIB_INCLUDE_DIR="/usr/$HOST/include")

# Builds a CMake project of $1 in its own build folder and installs it into $PREFIX.
cmake_dep() {
  local dir=$1; shift
  rm -rf "$dir/build-win"
  "${NICE[@]}" "${CMAKE_DEP[@]}" -S "$dir" -B "$dir/build-win" "$@" >"$dir/build-win.log" 2>&1 &&
    "${NICE[@]}" cmake --build "$dir/build-win" -j"$JOBS" >>"$dir/build-win.log" 2>&1 &&
    cmake --install "$dir/build-win" >>"$dir/build-win.log" 2>&1 ||
    { echo "build-windows: building $dir failed; see $dir/build-win.log" >&2; tail -30 "$dir/build-win.log" >&2; return 1; }
}

# iconv: the Windows-API iconv that Debian's glib source carries (glib/win_iconv.c), as a static
# library with a header of our own. FreeXL and the code-page reading of modules use it.
dep_iconv() {
  local dir=$1
  "${NICE[@]}" $HOST-gcc-posix -O2 -c "$dir/glib/win_iconv.c" -o "$dir/win_iconv.o"
  $HOST-ar rcs "$PREFIX/lib/libiconv.a" "$dir/win_iconv.o"
  cat >"$PREFIX/include/iconv.h" <<'EOF'
/* iconv for Windows (win_iconv: conversions through the Windows code pages). */
#ifndef VANTOR_WIN_ICONV_H
#define VANTOR_WIN_ICONV_H
#include <stddef.h>
#ifdef __cplusplus
extern "C" {
#endif
typedef void* iconv_t;
iconv_t iconv_open(const char* tocode, const char* fromcode);
size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft);
int iconv_close(iconv_t cd);
#ifdef __cplusplus
}
#endif
#endif
EOF
  # FreeXL includes it on Windows and never calls it.
  printf '/* locale_charset is not needed with win_iconv. */\nconst char* locale_charset(void);\n' \
    >"$PREFIX/include/localcharset.h"
}

dep_pcre2() {
  cmake_dep "$1" -DPCRE2_BUILD_PCRE2_8=ON -DPCRE2_BUILD_PCRE2_16=OFF -DPCRE2_BUILD_PCRE2_32=OFF \
    -DPCRE2_SUPPORT_JIT=ON -DPCRE2_BUILD_PCRE2GREP=OFF -DPCRE2_BUILD_TESTS=OFF \
    -DPCRE2_SUPPORT_LIBBZ2=OFF -DPCRE2_SUPPORT_LIBZ=OFF -DPCRE2_SUPPORT_LIBEDIT=OFF \
    -DPCRE2_SUPPORT_LIBREADLINE=OFF
}

# libzip without the optional compressors and crypto back ends: workbooks use deflate only.
dep_libzip() {
  cmake_dep "$1" -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
    -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
    -DENABLE_ZSTD=OFF -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
}

# ISA-L's deflate, inflate and CRC (the units our reader and writer use), with their assembly
# for the Windows x64 calling convention (nasm -f win64, through ISA-L's own mingw recipe).
dep_isal() {
  local dir=$1
  (cd "$dir" && rm -rf bin &&
    "${NICE[@]}" make -f Makefile.unx arch=mingw AS=nasm host_cpu=x86_64 units=igzip -j"$JOBS" lib \
      >build-win.log 2>&1) ||
    { echo "build-windows: building ISA-L failed; see $dir/build-win.log" >&2; tail -30 "$dir/build-win.log" >&2; return 1; }
  mkdir -p "$PREFIX/include/isa-l" "$PREFIX/lib/pkgconfig"
  cp "$dir/bin/isa-l.a" "$PREFIX/lib/libisal.a"
  cp "$dir"/include/*.h "$PREFIX/include/isa-l/"
  cat >"$PREFIX/lib/pkgconfig/libisal.pc" <<EOF
prefix=$PREFIX
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: libisal
Description: ISA-L deflate, inflate and CRC for $HOST
Version: $(upstream_of "$(source_versions libisal | head -1)")
Libs: -L\${libdir} -lisal
Cflags: -I\${includedir}
EOF
}

# expat: only the tests read XML with it (the package rules and canonical XML of our workbooks).
# Debian's security patches test "#if XML_DTD == 1", which Debian's autotools build defines so;
# the CMake build's config header is told to say 1 as well.
dep_expat() {
  sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$1/expat/expat_config.h.cmake"
  cmake_dep "$1/expat" -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
    -DEXPAT_BUILD_DOCS=OFF -DEXPAT_SHARED_LIBS=OFF
}

# nlohmann/json (the diff's JSON): headers only, installed with its own CMake files.
dep_json() { cmake_dep "$1" -DJSON_BuildTests=OFF -DJSON_Install=ON; }

dep_freexl() {
  local dir=$1
  (cd "$dir" && rm -rf build-win && mkdir build-win && cd build-win &&
    "${NICE[@]}" ../configure --host=$HOST --prefix="$PREFIX" --disable-shared --enable-static \
      CPPFLAGS="-I$PREFIX/include" LDFLAGS="-L$PREFIX/lib" \
      ac_cv_search_locale_charset="none required" >../build-win.log 2>&1 &&
    "${NICE[@]}" make -j"$JOBS" >>../build-win.log 2>&1 && make install >>../build-win.log 2>&1) ||
    { echo "build-windows: building FreeXL failed; see $dir/build-win.log" >&2; tail -30 "$dir/build-win.log" >&2; return 1; }
  # A static FreeXL needs iconv (and libm) at link time.
  sed -i 's/^Libs: .*/& -liconv/' "$PREFIX/lib/pkgconfig/freexl.pc"
}

dep_googletest() {
  cmake_dep "$1" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF
}

# Header-only libraries: installed from their Debian source with their own CMake files.
dep_cli11() {
  cmake_dep "$1" -DCLI11_BUILD_TESTS=OFF -DCLI11_BUILD_EXAMPLES=OFF -DCLI11_BUILD_DOCS=OFF \
    -DCLI11_INSTALL=ON -DCLI11_SINGLE_FILE=OFF
}

dep_ordered_map() { cmake_dep "$1"; }

# name, source package, recipe
DEP_LIST=(
  "iconv glib2.0 dep_iconv"
  "pcre2 pcre2 dep_pcre2"
  "libzip libzip dep_libzip"
  "isal libisal dep_isal"
  "freexl freexl dep_freexl"
  "googletest googletest dep_googletest"
  "cli11 cli11 dep_cli11"
  "ordered-map ordered-map dep_ordered_map"
  "expat expat dep_expat"
  "json nlohmann-json3 dep_json"
)
# The header-only ordered map's Debian packaging part is missing on some mirrors; its headers
# are the same on every architecture, so Debian's installed package stands in then.
ordered_map_from_installed() {
  mkdir -p "$PREFIX/include" "$PREFIX/share/cmake"
  cp -r /usr/include/tsl "$PREFIX/include/"
  cp -r /usr/share/cmake/tsl-ordered-map "$PREFIX/share/cmake/"
}

deps_start=$(date +%s)
for entry in "${DEP_LIST[@]}"; do
  read -r name pkg recipe <<<"$entry"
  key="$(source_versions "$pkg" | head -1 | tr ':~' '__')-$(recipe_hash "$recipe")"
  if built "$name" "$key"; then continue; fi
  log "building $name for $HOST from Debian's source package $pkg"
  if dir=$(fetch_source "$pkg"); then
    "$recipe" "$dir"
  elif [ "$name" = ordered-map ]; then
    ordered_map_from_installed
  else
    exit 1
  fi
  mark_built "$name" "$key"
done
log "dependencies ready in $(( $(date +%s) - deps_start )) s ($PREFIX)"
if [ -n "${WINDOWS_DEPS_ONLY:-}" ]; then exit 0; fi

# ---- 3. the native macro project --------------------------------------------------------------
LAUNCHER=()
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# IGXL_NATIVE_BUILD names a Linux build folder to take it from (scripts/test-windows.sh passes
# build/, made just before); otherwise a small one of its own is made.
NATIVE=${IGXL_NATIVE_BUILD:-$OUT/native}
if [ ! -f "$NATIVE/CMakeCache.txt" ]; then
  cmake -S . -B "$NATIVE" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DIGXL_BENCH=OFF "${LAUNCHER[@]}" >/dev/null
fi
"${NICE[@]}" cmake --build "$NATIVE" -j"$JOBS" --target vba_project >/dev/null
VBA_BIN=$(find "$NATIVE/lib" -name vbaProject.bin | head -1)
if [ -z "$VBA_BIN" ]; then echo "build-windows: no vbaProject.bin in $NATIVE/lib" >&2; exit 1; fi

# ---- 4. our code ------------------------------------------------------------------------------
# pkg-config for the target: our prefix and the MinGW sysroot only, static link lines.
mkdir -p "$OUT/tools"
cat >"$OUT/tools/pkg-config" <<EOF
#!/bin/sh
PKG_CONFIG_LIBDIR="$PREFIX/lib/pkgconfig:$PREFIX/share/pkgconfig:/usr/$HOST/lib/pkgconfig" \\
PKG_CONFIG_SYSROOT_DIR= exec pkg-config --static "\$@"
EOF
chmod +x "$OUT/tools/pkg-config"
BUILD=$OUT/build
# A changed toolchain file takes effect only in a fresh configuration.
TOOLCHAIN=$ROOT/scripts/mingw-w64-x86_64.cmake
if [ -f "$BUILD/CMakeCache.txt" ] && [ "$TOOLCHAIN" -nt "$BUILD/CMakeCache.txt" ]; then
  rm -rf "$BUILD/CMakeCache.txt" "$BUILD/CMakeFiles"
fi
# Optimised as the Linux build is (-O2), without debug information, stripped.
"${NICE[@]}" cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DIGXL_WINDOWS_DEPS="$PREFIX" -DPKG_CONFIG_EXECUTABLE="$OUT/tools/pkg-config" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s -DCMAKE_SHARED_LINKER_FLAGS_RELEASE=-s \
  -DIGXL_BENCH=OFF -DIGXL_VBA_PROJECT_BIN="$VBA_BIN" "${LAUNCHER[@]}" >/dev/null
log "building our code for $HOST"
"${NICE[@]}" cmake --build "$BUILD" -j"$JOBS"

# ---- 5. the package ---------------------------------------------------------------------------
STAGE=$OUT/package/vantor-windows-x64
rm -rf "$OUT/package"
mkdir -p "$STAGE/bin" "$ROOT/dist"
cp "$BUILD"/bin/vantor.exe "$BUILD"/bin/orvane.exe "$BUILD"/bin/patinfo.exe "$STAGE/"
# Our libraries (the report writer Tessaly.dll among them) and the GCC runtime (one copy shared by
# programs and libraries, so C++ objects and exceptions pass between them safely).
cp "$BUILD"/bin/*.dll "$STAGE/"
# Debian's runtime DLLs carry debug information (libstdc++ alone 23 MB of it).
$HOST-strip --strip-debug "$STAGE"/libstdc++-6.dll "$STAGE"/libgcc_s_seh-1.dll "$STAGE"/libwinpthread-1.dll
cp "$BUILD"/bin/bin/vbaProject.bin "$STAGE/bin/"
sed 's/$/\r/' scripts/windows-readme.txt >"$STAGE/README.txt"
rm -f "$ROOT/dist/vantor-windows-x64.zip"
(cd "$OUT/package" && zip -q -r -X "$ROOT/dist/vantor-windows-x64.zip" vantor-windows-x64)
log "packed dist/vantor-windows-x64.zip ($(du -k "$ROOT/dist/vantor-windows-x64.zip" | cut -f1) KiB)"
