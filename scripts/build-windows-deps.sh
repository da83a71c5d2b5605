#!/usr/bin/env bash
# Builds the libraries that kelmo links on Windows, for x86-64 with
# mingw-w64, from Debian's own source packages:
#
#   zlib, libpng1.6, libjpeg-turbo  static, for tavoimage.dll
#   lapack                          reference LAPACK and BLAS: only the
#                                   routines that LAPACKE_sgesv reaches
#   googletest                      the test programs
#   dlib                            kelmo.exe's automatic landmarks: only
#                                   the sources that the face detector and
#                                   the shape predictor need
#
#   bash scripts/build-windows-deps.sh [DEPS_DIR]   (default build-windows/deps)
#
# Sources come from `apt-get source --download-only` with a private sources
# list and package lists in DEPS_DIR/apt: deb-src lines for the Debian
# archive that the machine's own apt sources name. No root needed; nothing
# outside DEPS_DIR changes. Each library is built once: DEPS_DIR/prefix/.built-NAME
# marks it done, so later runs only check.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
deps="$(realpath -m "${1:-build-windows/deps}")"
apt_dir="$deps/apt"
src="$deps/src"
prefix="$deps/prefix"
work="$deps/work"
toolchain="$repo/cmake/mingw-w64-x86_64.cmake"
jobs="$(nproc)"
triple=x86_64-w64-mingw32
cc="$triple-gcc-posix"
fc="$triple-gfortran-posix"
ar="$triple-ar"
# Debian's own optimisation level for these libraries.
cflags="-O2"

packages=(zlib libpng1.6 libjpeg-turbo lapack googletest dlib)

mkdir -p "$apt_dir" "$src" "$prefix/include" "$prefix/lib" "$work"
log() { echo "build-windows-deps: $*"; }

# ---- Sources --------------------------------------------------------------

# deb-src lines for the Debian archive in the machine's apt sources (its
# suites and components, in either of apt's formats: deb822 .sources stanzas
# or one-line .list files). The security archive is left out: its source
# pool is not reachable from every machine, and the archive's point releases
# carry its fixes.
write_sources_list() {
  local out="$1"
  : >"$out"
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk '$1 == "deb" && $0 ~ /\/debian\/? / { $1 = "deb-src"; print }' "$f" >>"$out"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk '
      function flush(   n, uris, suites, i, j, opt) {
        if (types ~ /(^| )deb( |$)/ && uri ~ /\/debian\/?$/ && enabled != "no") {
          opt = (signed ~ /^\//) ? "[signed-by=" signed "] " : ""
          n = split(uri, uris, " "); split(suite, suites, " ")
          for (i = 1; i <= n; i++) for (j in suites)
            print "deb-src " opt uris[i] " " suites[j] " " comps
        }
        types = uri = suite = comps = signed = enabled = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^Types:/      { sub(/^Types:[ \t]*/, "");      types = $0 }
      /^URIs:/       { sub(/^URIs:[ \t]*/, "");       uri = $0 }
      /^Suites:/     { sub(/^Suites:[ \t]*/, "");     suite = $0 }
      /^Components:/ { sub(/^Components:[ \t]*/, ""); comps = $0 }
      /^Signed-By:/  { sub(/^Signed-By:[ \t]*/, "");  signed = $0 }
      /^Enabled:/    { sub(/^Enabled:[ \t]*/, "");    enabled = tolower($0) }
      END { flush() }
    ' "$f" >>"$out"
  done
  if [ ! -s "$out" ]; then
    echo "build-windows-deps: the machine's apt sources name no Debian archive" >&2
    exit 1
  fi
}

apt_private() {
  apt-get -q -o Dir::Etc::sourcelist="$apt_dir/sources.list" -o Dir::Etc::sourceparts=- \
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" "$@"
}

fetch_sources() {
  local missing=()
  local p
  for p in "${packages[@]}"; do
    compgen -G "$src/${p}_*.dsc" >/dev/null || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  write_sources_list "$apt_dir/sources.list"
  log "fetching the source packages ${missing[*]}"
  apt_private update >"$apt_dir/update.log" 2>&1 || { cat "$apt_dir/update.log" >&2; exit 1; }
  (cd "$src" && apt_private source --download-only "${missing[@]}") >"$apt_dir/source.log" 2>&1 ||
    { cat "$apt_dir/source.log" >&2; exit 1; }
}

# Unpacks a source package (format 3.0 quilt) into $src/NAME: its main
# upstream tarball, Debian's folder and Debian's patches in series order.
# Extra upstream components (dlib's trained models) are left packed.
unpack() {
  local name="$1" dir="$src/$1"
  [ -f "$dir/.unpacked" ] && { echo "$dir"; return; }
  rm -rf "$dir" && mkdir -p "$dir"
  local orig debian
  orig="$(compgen -G "$src/${name}_*.orig.tar.*" | head -n 1)"
  debian="$(compgen -G "$src/${name}_*.debian.tar.*" | head -n 1)"
  tar -xf "$orig" -C "$dir" --strip-components=1
  tar -xf "$debian" -C "$dir"
  if [ -f "$dir/debian/patches/series" ]; then
    local patch
    while read -r patch _; do
      case "$patch" in ''|'#'*) continue ;; esac
      patch -d "$dir" -p1 -s -N <"$dir/debian/patches/$patch" >/dev/null
    done <"$dir/debian/patches/series"
  fi
  touch "$dir/.unpacked"
  echo "$dir"
}

built() { [ -f "$prefix/.built-$1" ]; }
mark_built() { touch "$prefix/.built-$1"; }

cmake_dep() {
  local source="$1" build="$2"
  shift 2
  cmake -S "$source" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DKELMO_WINDOWS_DEPS="$prefix" -DKELMO_NO_EMULATOR=ON -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="$cflags" \
    -DCMAKE_CXX_FLAGS_RELEASE="$cflags" -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >"$build.log" 2>&1 ||
    { cat "$build.log" >&2; exit 1; }
}

# ---- zlib -----------------------------------------------------------------
# Debian's source drops zlib's Windows makefiles; its library is the plain C
# files at the top of the tree.
zlib_sources=(adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate
  inftrees trees uncompr zutil)
build_zlib() {
  built zlib && return
  local dir out
  dir="$(unpack zlib)"
  out="$work/zlib"
  log "zlib"
  rm -rf "$out" && mkdir -p "$out"
  local f objects=()
  for f in "${zlib_sources[@]}"; do
    objects+=("$out/$f.o")
    "$cc" $cflags -c "$dir/$f.c" -o "$out/$f.o"
  done
  rm -f "$prefix/lib/libz.a"
  "$ar" rcs "$prefix/lib/libz.a" "${objects[@]}"
  cp "$dir/zlib.h" "$dir/zconf.h" "$prefix/include/"
  mark_built zlib
}

# ---- libpng ---------------------------------------------------------------
build_libpng() {
  built libpng && return
  local dir
  dir="$(unpack libpng1.6)"
  log "libpng"
  cmake_dep "$dir" "$work/libpng" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DPNG_FRAMEWORK=OFF -DSKIP_INSTALL_EXECUTABLES=ON -DSKIP_INSTALL_PROGRAMS=ON \
    -DSKIP_INSTALL_FILES=ON -DZLIB_LIBRARY="$prefix/lib/libz.a" -DZLIB_INCLUDE_DIR="$prefix/include"
  cmake --build "$work/libpng" --target png_static -j "$jobs" >"$work/libpng-build.log" 2>&1 ||
    { cat "$work/libpng-build.log" >&2; exit 1; }
  cp "$dir/png.h" "$dir/pngconf.h" "$work/libpng/pnglibconf.h" "$prefix/include/"
  cp "$work/libpng/libpng16.a" "$prefix/lib/libpng16.a"
  cp "$work/libpng/libpng16.a" "$prefix/lib/libpng.a"
  mark_built libpng
}

# ---- libjpeg-turbo --------------------------------------------------------
# Without its SIMD kernels (they need an assembler the machine lacks); the
# default integer transforms give the same pixels either way.
build_libjpeg() {
  built libjpeg && return
  local dir
  dir="$(unpack libjpeg-turbo)"
  log "libjpeg-turbo"
  cmake_dep "$dir" "$work/libjpeg" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
    -DWITH_SIMD=OFF -DWITH_JAVA=OFF
  cmake --build "$work/libjpeg" --target jpeg-static -j "$jobs" >"$work/libjpeg-build.log" 2>&1 ||
    { cat "$work/libjpeg-build.log" >&2; exit 1; }
  cp "$dir/jpeglib.h" "$dir/jmorecfg.h" "$dir/jerror.h" "$work/libjpeg/jconfig.h" "$prefix/include/"
  cp "$work/libjpeg/libjpeg.a" "$prefix/lib/libjpeg.a"
  mark_built libjpeg
}

# ---- LAPACKE_sgesv with reference LAPACK and BLAS --------------------------
# The library's one LAPACK call. Only the routines it reaches are compiled,
# with Debian's flags for the package (-O2 -frecursive), so that the solve
# does the same arithmetic as Debian's reference liblapack3 and libblas3.
lapack_fortran=(
  SRC/sgesv.f SRC/sgetrf.f SRC/sgetrf2.f SRC/sgetrs.f SRC/slaswp.f
  SRC/ilaenv.f SRC/ieeeck.f SRC/iparmq.f SRC/iparam2stage.F SRC/xerbla.f
  INSTALL/slamch.f INSTALL/lsame.f
  BLAS/SRC/sgemm.f BLAS/SRC/strsm.f BLAS/SRC/isamax.f BLAS/SRC/sscal.f BLAS/SRC/sswap.f
)
lapacke_c=(
  LAPACKE/src/lapacke_sgesv.c LAPACKE/src/lapacke_sgesv_work.c
  LAPACKE/utils/lapacke_sge_trans.c LAPACKE/utils/lapacke_sge_nancheck.c
  LAPACKE/src/lapacke_nancheck.c LAPACKE/utils/lapacke_lsame.c LAPACKE/utils/lapacke_xerbla.c
)
build_lapack() {
  built lapack && return
  local dir out
  dir="$(unpack lapack)"
  out="$work/lapack"
  log "LAPACKE_sgesv (reference LAPACK and BLAS)"
  rm -rf "$out" && mkdir -p "$out"
  # LAPACKE's name mangling for gfortran: lower case with a trailing underscore.
  mkdir -p "$out/include"
  cp "$dir/LAPACKE/include/lapacke_mangling_with_flags.h.in" "$out/include/lapacke_mangling.h"
  local f objects=()
  for f in "${lapack_fortran[@]}"; do
    objects+=("$out/$(basename "${f%.*}").o")
    "$fc" -O2 -frecursive -c "$dir/$f" -o "${objects[-1]}"
  done
  for f in "${lapacke_c[@]}"; do
    objects+=("$out/$(basename "${f%.*}").o")
    "$cc" $cflags -DHAVE_LAPACK_CONFIG_H -DLAPACK_COMPLEX_STRUCTURE -I"$out/include" -I"$dir/LAPACKE/include" \
      -c "$dir/$f" -o "${objects[-1]}"
  done
  rm -f "$prefix/lib/liblapacke.a"
  "$ar" rcs "$prefix/lib/liblapacke.a" "${objects[@]}"
  cp "$dir/LAPACKE/include/lapacke.h" "$out/include/lapacke_mangling.h" "$dir/LAPACKE/include/lapack.h" \
    "$prefix/include/"
  if [ -f "$dir/LAPACKE/include/lapacke_config.h" ]; then
    cp "$dir/LAPACKE/include/lapacke_config.h" "$prefix/include/"
  fi
  mark_built lapack
}

# ---- GoogleTest -----------------------------------------------------------
build_googletest() {
  built googletest && return
  local dir
  dir="$(unpack googletest)"
  log "googletest"
  cmake_dep "$dir" "$work/googletest" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_force_shared_crt=ON
  cmake --build "$work/googletest" -j "$jobs" >"$work/googletest-build.log" 2>&1 ||
    { cat "$work/googletest-build.log" >&2; exit 1; }
  cmake --install "$work/googletest" >/dev/null
  mark_built googletest
}

# ---- dlib -----------------------------------------------------------------
# Its headers and the few compiled units behind deserialisation and the
# built-in face detector's compressed model, as the imported target
# dlib::dlib that tools/kelmo links (the same name as Debian's package).
dlib_sources=(
  dlib/base64/base64_kernel_1.cpp
  dlib/entropy_decoder/entropy_decoder_kernel_2.cpp
  dlib/entropy_encoder/entropy_encoder_kernel_2.cpp
  dlib/test_for_odr_violations.cpp
)
build_dlib() {
  built dlib && return
  local dir out
  dir="$(unpack dlib)"
  out="$work/dlib"
  log "dlib"
  rm -rf "$out" && mkdir -p "$out"
  local f objects=()
  for f in "${dlib_sources[@]}"; do
    objects+=("$out/$(basename "${f%.*}").o")
    "$triple-g++-posix" -std=c++17 $cflags -DDLIB_NO_GUI_SUPPORT -I"$dir" -c "$dir/$f" -o "${objects[-1]}"
  done
  rm -f "$prefix/lib/libdlib.a"
  "$ar" rcs "$prefix/lib/libdlib.a" "${objects[@]}"
  rm -rf "$prefix/include/dlib"
  cp -r "$dir/dlib" "$prefix/include/dlib"
  mkdir -p "$prefix/lib/cmake/dlib"
  cat >"$prefix/lib/cmake/dlib/dlibConfig.cmake" <<'EOF'
# dlib for Windows, written by scripts/build-windows-deps.sh.
get_filename_component(_dlib_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET dlib::dlib)
  add_library(dlib::dlib STATIC IMPORTED)
  set_target_properties(dlib::dlib PROPERTIES
    IMPORTED_LOCATION "${_dlib_prefix}/lib/libdlib.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_dlib_prefix}/include"
    INTERFACE_COMPILE_DEFINITIONS "DLIB_NO_GUI_SUPPORT")
endif()
set(dlib_FOUND TRUE)
EOF
  mark_built dlib
}

fetch_sources
build_zlib
build_libpng
build_libjpeg
build_lapack
build_googletest
build_dlib
log "ready in $prefix"
