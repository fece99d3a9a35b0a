#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages only.
# Idempotent: a second run checks and returns in seconds.
#   setup.sh          what building and running need (64-bit only; never touches i386)
#   setup.sh --win32  that, plus 32-bit Wine through qemu-user for the tests of the shipped build;
#                     when it cannot be had, says why, records it and still succeeds
# The registry has bad moments: every apt call is tried three times, a failed index update is
# worked around with the lists already here, and only a step that is really needed fails the run.
set -euo pipefail

DEPS=${VANTOR_DEPS:-/opt/vantor-deps}
WIN32_STATUS=$DEPS/win32-unavailable
SOURCES_LIST=$(dirname "$0")/codec-sources.txt
APT_PAUSE=${VANTOR_APT_PAUSE:-10}
APT_SOURCES=${VANTOR_APT_SOURCES:-/etc/apt/sources.list.d}
want_win32=0
[ "${1:-}" = --win32 ] && want_win32=1

# Several checkouts on one machine may run this at once: apt and the cross-builds take turns.
mkdir -p "$DEPS"
exec 8>"${VANTOR_SETUP_LOCK:-/var/lock/vantor-setup.lock}"
flock 8

say() { echo "setup: $*" >&2; }

# step <label> <command...>: runs one step and prints how long it took.
step() {
  local label=$1 start=$SECONDS
  shift
  "$@"
  say "$label: $((SECONDS - start)) s"
}

# apt_try <command...>: up to three tries with a pause between; the last error is in $APT_ERROR.
APT_ERROR=
apt_try() {
  local try out
  for try in 1 2 3; do
    if out=$("$@" 2>&1 >/dev/null); then
      APT_ERROR=
      return 0
    fi
    APT_ERROR=$(grep -E '^(E|W):' <<<"$out" | head -n 3 | paste -sd' ')
    [ -n "$APT_ERROR" ] || APT_ERROR=$(tail -n 2 <<<"$out" | paste -sd' ')
    say "try $try of 3 failed: $* -> ${APT_ERROR:0:300}"
    [ $try -lt 3 ] && sleep "$APT_PAUSE"
  done
  return 1
}

# A failed update leaves the lists of the last good one: installs can still work from those, so
# only the install that really fails stops the run.
UPDATE_ERROR=
UPDATE_DONE=
apt_update() {
  UPDATE_DONE=1
  apt_try apt-get update -qq && return 0
  UPDATE_ERROR=$APT_ERROR
  say "apt-get update failed three times; going on with the package lists already here"
}

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt_try apt-get install -y -qq --no-remove --no-install-recommends "$@"
}

# --- the 64-bit packages --------------------------------------------------------------------------
# fonts-wine holds Wine's own Marlett (the caption buttons' glyphs) and Tahoma (the dialog font);
# without it Wine draws "0 1 r" in the caption buttons.
PACKAGES=(
  cmake ninja-build g++ make pkg-config python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  libz-mingw-w64-dev zlib1g-dev libpng-dev libzstd-dev libgtest-dev
  wine wine64 xvfb xauth imagemagick xdotool x11-utils
  fp-utils-3.2.2 nsis zip unzip p7zip-full pigz zstd xz-utils dpkg-dev clang
  fonts-droid-fallback fonts-wine strace
)

packages_missing() {
  # dpkg-query fails for a package it has never heard of: a package added to the list.
  local status
  status=$(dpkg-query -W -f='${Status}\n' "${PACKAGES[@]}" 2>/dev/null) || return 0
  grep -qv '^install ok installed' <<<"$status"
}

install_packages() {
  packages_missing || return 0
  apt_update
  if ! apt_install "${PACKAGES[@]}"; then
    say "FAILED: the build's packages could not be installed: $APT_ERROR"
    exit 1
  fi
}

# --- peer tools -------------------------------------------------------------------------------------
# The foreign-archive tests make their samples with the tools people use (zip, 7z and tar are above);
# a tool that cannot be installed only skips its tests, so it is said, recorded and passed over.
# libarchive-tools (bsdtar) is a reader the written zips are checked with.
PEER_TOOLS=(xorriso genisoimage gcab jlha-utils cpio binutils lz4 ncompress bzip2 libarchive-tools)
PEER_STATUS=$DEPS/peer-tools-missing

install_peer_tools() {
  local tool missing=()
  rm -f "$PEER_STATUS"
  for tool in "${PEER_TOOLS[@]}"; do
    [ "$(dpkg-query -W -f='${Status}' "$tool" 2>/dev/null)" = "install ok installed" ] || missing+=("$tool")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  [ -n "$UPDATE_DONE" ] || apt_update
  apt_install "${missing[@]}" && return 0
  # One that cannot be had must not keep the others out.
  for tool in "${missing[@]}"; do
    apt_install "$tool" && continue
    say "peer tool $tool SKIPPED (its tests are skipped): $APT_ERROR"
    echo "$tool: $APT_ERROR" >>"$PEER_STATUS"
  done
}

# --- 32-bit Wine through qemu-user ---------------------------------------------------------------
# This kernel cannot execute i386 code. qemu-user from bookworm-backports (Debian 12's own 7.2 cannot
# start 32-bit Wine), registered with binfmt_misc, runs Debian's 32-bit Wine, so the shipped i686
# build is tested as it is. wine32 must be the same version as wine64: they share one wineserver
# protocol and the other checkouts' 64-bit runs must not notice the install.
BACKPORTS_LIST=$APT_SOURCES/vantor-backports.sources
BINFMT=${VANTOR_BINFMT:-/proc/sys/fs/binfmt_misc}
QEMU_I386=/usr/bin/qemu-i386-static

qemu_is_recent() {
  local v
  v=$(dpkg-query -W -f='${Status} ${Version}\n' qemu-user-static 2>/dev/null) || return 1
  [[ $v == "install ok installed "* ]] || return 1
  dpkg --compare-versions "${v##* }" ge 1:8
}

wine32_is_installed() {
  [ "$(dpkg-query -W -f='${Status} ${Version}' wine32:i386 2>/dev/null)" = "install ok installed $1" ]
}

# Records why the 32-bit runs cannot happen; scripts/test.sh reads it.
win32_unavailable() {
  say "32-bit runs SKIPPED: $1"
  echo "$1" >"$WIN32_STATUS"
  return 1
}

install_wine32() {
  local wine_version
  wine_version=$(dpkg-query -W -f='${Version}' wine64)
  if ! qemu_is_recent || ! wine32_is_installed "$wine_version"; then
    if [ ! -f "$BACKPORTS_LIST" ]; then
      local uri
      uri=$(sed -n 's/^URIs: *//p' "$APT_SOURCES/debian.sources" 2>/dev/null | head -n 1)
      printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
        "${uri:-http://deb.debian.org/debian}" /usr/share/keyrings/debian-archive-keyring.gpg >"$BACKPORTS_LIST"
    fi
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt_update
  fi
  if ! qemu_is_recent && ! apt_install -t bookworm-backports qemu-user-static; then
    win32_unavailable "qemu-user-static could not be installed from bookworm-backports: $APT_ERROR${UPDATE_ERROR:+ (after a failed index update: $UPDATE_ERROR)}"
    return
  fi
  if ! wine32_is_installed "$wine_version" &&
     ! apt_install "wine32:i386=$wine_version" "libwine:i386=$wine_version"; then
    win32_unavailable "wine32 could not be installed: $APT_ERROR${UPDATE_ERROR:+ (after a failed index update: $UPDATE_ERROR)}"
    return
  fi
  register_qemu_i386
}

# The kernel runs i386 programs through qemu; flag F opens the interpreter now, so it works inside
# any mount namespace.
register_qemu_i386() {
  if [ ! -e "$BINFMT/register" ]; then
    mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null || true
  fi
  if [ ! -e "$BINFMT/register" ]; then
    win32_unavailable "this kernel offers no binfmt_misc to run qemu-i386 through"
    return
  fi
  [ -e "$BINFMT/qemu-i386" ] && return 0
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU_I386"':F' \
    >"$BINFMT/register" 2>/dev/null ||
    win32_unavailable "could not register $QEMU_I386 with binfmt_misc"
}

# --- codec and image libraries from Debian's source packages ---------------------------------------
# Fetched straight from the archive's pool by the versions and .dsc checksums in codec-sources.txt
# (no source list is added to apt, so a bad index of another suite cannot get in the way), then
# unpacked with dpkg-source -x, which checks every file against the .dsc and applies the patches.
source_line() { awk -v n="$1" '$1 == n { print $2, $3, $4 }' "$SOURCES_LIST"; }
source_version() { source_line "$1" | cut -d' ' -f1; }

mirror_uri() {
  local uri
  uri=$(sed -n 's/^URIs: *//p' "$APT_SOURCES/debian.sources" 2>/dev/null | head -n 1)
  echo "${uri:-http://deb.debian.org/debian}"
}

download() {
  apt_try /usr/lib/apt/apt-helper download-file "$1" "$2" "SHA256:$3" || {
    rm -f "$2"
    say "FAILED: could not download $1: $APT_ERROR"
    exit 1
  }
}

# unpacked_source <package>: prints the folder of the patched source, fetching it once.
unpacked_source() {
  local name=$1 version folder sha dsc src=$DEPS/src
  read -r version folder sha <<<"$(source_line "$name")"
  [ -n "$sha" ] || { say "FAILED: $name is not in $SOURCES_LIST"; exit 1; }
  mkdir -p "$src"
  dsc=$src/${name}_$version.dsc
  if [ ! -d "$src/$name-$version" ]; then
    local base
    base=$(mirror_uri)/pool/$folder
    [ -f "$dsc" ] || download "$base/${name}_$version.dsc" "$dsc" "$sha"
    local file_sha file
    while read -r file_sha _ file; do
      [ -f "$src/$file" ] || download "$base/$file" "$src/$file" "$file_sha"
    done < <(sed -n '/^Checksums-Sha256:/,/^[A-Z]/p' "$dsc" | grep '^ ')
    rm -rf "$src/$name-$version.tmp"
    dpkg-source -x "$dsc" "$src/$name-$version.tmp" >/dev/null
    mv "$src/$name-$version.tmp" "$src/$name-$version"
  fi
  echo "$src/$name-$version"
}

# Static and multi-threaded, without the legacy formats; the headers go beside the library.
build_zstd() {
  local prefix=$1 cc=$2 ar=$3 version source stamp
  version=$(source_version libzstd)
  stamp=$prefix/.libzstd-$version
  [ -f "$stamp" ] && return 0
  source=$(unpacked_source libzstd)
  make -C "$source/lib" clean >/dev/null
  make -C "$source/lib" -j2 libzstd.a-mt CC="$cc" AR="$ar" ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_ASM=1 \
    CFLAGS="-O2 -fPIC" >/dev/null
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$source/lib/libzstd.a" "$prefix/lib/"
  cp "$source/lib/zstd.h" "$source/lib/zstd_errors.h" "$source/lib/zdict.h" "$prefix/include/"
  rm -f "$prefix"/.libzstd-*
  touch "$stamp"
}

# Static liblzma with LZMA2 and the delta, x86 and arm64 filters only, no programs. Windows gets its
# own threads (the programs need Windows 7 anyway), so nothing more is linked for them. Its CMake
# build: a third of the time its configure script and libtool take.
# build_lzma <prefix> [toolchain file for MinGW]
build_lzma() {
  local prefix=$1 tc=${2:-} version source work stamp threads=posix
  local filters="lzma1;lzma2;delta;x86;arm64"
  version=$(source_version xz-utils)
  stamp=$prefix/.liblzma-$version
  [ -f "$stamp" ] && return 0
  source=$(unpacked_source xz-utils)
  [ -z "$tc" ] || threads=vista
  work=$(mktemp -d)
  cmake -S "$source" -B "$work" -G Ninja ${tc:+-DCMAKE_TOOLCHAIN_FILE="$tc"} \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF \
    -DXZ_THREADS=$threads -DXZ_ENCODERS="$filters" -DXZ_DECODERS="$filters" \
    -DXZ_MICROLZMA_ENCODER=OFF -DXZ_MICROLZMA_DECODER=OFF -DXZ_LZIP_DECODER=OFF -DXZ_NLS=OFF \
    -DXZ_TOOL_XZ=OFF -DXZ_TOOL_XZDEC=OFF -DXZ_TOOL_LZMADEC=OFF -DXZ_TOOL_LZMAINFO=OFF >/dev/null
  cmake --build "$work" -j2 --target liblzma >/dev/null
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$work/liblzma.a" "$prefix/lib/"
  rm -rf "$prefix/include/lzma"
  cp -r "$source/src/liblzma/api/lzma.h" "$source/src/liblzma/api/lzma" "$prefix/include/"
  rm -rf "$work"
  rm -f "$prefix"/.liblzma-*
  touch "$stamp"
}

# Static libbz2 from its seven C files: its own makefile builds programs and a shared library too.
# build_bzip2 <prefix> <cc> <ar>
build_bzip2() {
  local prefix=$1 cc=$2 ar=$3 version source work stamp
  version=$(source_version bzip2)
  stamp=$prefix/.bzip2-$version
  [ -f "$stamp" ] && return 0
  source=$(unpacked_source bzip2)
  work=$(mktemp -d)
  printf '%s\n' blocksort huffman crctable randtable compress decompress bzlib |
    xargs -P2 -I{} "$cc" -O2 -fPIC -D_FILE_OFFSET_BITS=64 -c "$source/{}.c" -o "$work/{}.o"
  mkdir -p "$prefix/lib" "$prefix/include"
  rm -f "$prefix/lib/libbz2.a"
  "$ar" rcs "$prefix/lib/libbz2.a" "$work"/*.o
  cp "$source/bzlib.h" "$prefix/include/"
  rm -rf "$work"
  rm -f "$prefix"/.bzip2-*
  touch "$stamp"
}

# Static liblz4 (block, high-compression and frame code) with its own xxhash under the LZ4_ prefix,
# so that it never meets another library's copy; Debian's patch for a system xxhash only touches
# its CMake build, which is not used here.
# build_lz4 <prefix> <cc> <ar>
build_lz4() {
  local prefix=$1 cc=$2 ar=$3 version source work stamp
  version=$(source_version lz4)
  stamp=$prefix/.lz4-$version
  [ -f "$stamp" ] && return 0
  source=$(unpacked_source lz4)
  work=$(mktemp -d)
  printf '%s\n' lz4 lz4hc lz4frame xxhash |
    xargs -P2 -I{} "$cc" -O2 -fPIC -DXXH_NAMESPACE=LZ4_ -c "$source/lib/{}.c" -o "$work/{}.o"
  mkdir -p "$prefix/lib" "$prefix/include"
  rm -f "$prefix/lib/liblz4.a"
  "$ar" rcs "$prefix/lib/liblz4.a" "$work"/*.o
  cp "$source/lib/lz4.h" "$source/lib/lz4hc.h" "$source/lib/lz4frame.h" "$prefix/include/"
  rm -rf "$work"
  rm -f "$prefix"/.lz4-*
  touch "$stamp"
}

# Static libarchive for reading foreign archives (and writing zip), against our own zlib, bzip2,
# liblzma, libzstd and lz4 given by full path, so that no system copy or DLL import library slips
# in. No XML, ACLs, extended attributes or (on Windows) iconv: names are converted by our own code.
# On Windows its zip reader decrypts AES members through the system's CNG (bcrypt.dll, which it
# takes its random numbers from anyway); natively no crypto library is linked, so AES members are
# refused there. Windows 7 as the oldest target, as for the programs.
# build_libarchive <prefix> <zlib's include folder> <zlib library> [toolchain file for MinGW]
build_libarchive() {
  local prefix=$1 zlib_include=$2 zlib=$3 tc=${4:-} version source work stamp iconv=ON cng=OFF
  version=$(source_version libarchive)
  [ -z "$tc" ] || cng=ON
  stamp=$prefix/.libarchive-$version${tc:+-cng}
  [ -f "$stamp" ] && return 0
  source=$(unpacked_source libarchive)
  [ -z "$tc" ] || iconv=OFF
  work=$(mktemp -d)
  cmake -S "$source" -B "$work" -G Ninja ${tc:+-DCMAKE_TOOLCHAIN_FILE="$tc"} \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DBUILD_SHARED_LIBS=OFF -DWINDOWS_VERSION=WIN7 \
    -DENABLE_TEST=OFF -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF -DENABLE_UNZIP=OFF \
    -DENABLE_INSTALL=OFF -DENABLE_WERROR=OFF \
    -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF -DENABLE_CNG=$cng \
    -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF -DENABLE_WIN32_XMLLITE=OFF -DENABLE_LIBB2=OFF \
    -DENABLE_LZO=OFF -DENABLE_PCREPOSIX=OFF -DENABLE_PCRE2POSIX=OFF -DENABLE_LIBGCC=OFF \
    -DENABLE_ACL=OFF -DENABLE_XATTR=OFF -DENABLE_ICONV=$iconv -DPOSIX_REGEX_LIB=NONE \
    -DZLIB_INCLUDE_DIR="$zlib_include" -DZLIB_LIBRARY="$zlib" \
    -DBZIP2_INCLUDE_DIR="$prefix/include" -DBZIP2_LIBRARY_RELEASE="$prefix/lib/libbz2.a" \
    -DLIBLZMA_INCLUDE_DIR="$prefix/include" -DLIBLZMA_LIBRARY="$prefix/lib/liblzma.a" \
    -DLZ4_INCLUDE_DIR="$prefix/include" -DLZ4_LIBRARY="$prefix/lib/liblz4.a" \
    -DZSTD_INCLUDE_DIR="$prefix/include" -DZSTD_LIBRARY="$prefix/lib/libzstd.a" >"$work/configure.log" 2>&1 ||
    { tail -n 20 "$work/configure.log" >&2; say "FAILED: libarchive could not be configured"; exit 1; }
  # A codec that the configuration did not find would silently drop its formats.
  local have
  for have in HAVE_LIBZ HAVE_LIBBZ2 HAVE_LIBLZMA HAVE_LIBLZ4 HAVE_LIBZSTD; do
    grep -q "^#define $have 1" "$work/config.h" || { say "FAILED: libarchive found no ${have#HAVE_LIB}"; exit 1; }
  done
  # Without bcrypt.h the zip reader would refuse AES members on Windows too.
  [ $cng = OFF ] || grep -q "^#define HAVE_BCRYPT_H 1" "$work/config.h" || { say "FAILED: libarchive found no CNG"; exit 1; }
  cmake --build "$work" -j2 --target archive_static >/dev/null
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$work/libarchive/libarchive.a" "$prefix/lib/"
  cp "$source/libarchive/archive.h" "$source/libarchive/archive_entry.h" "$prefix/include/"
  rm -rf "$work"
  rm -f "$prefix"/.libarchive-*
  touch "$stamp"
}

# Static libsodium for encrypted archives, built with its own configure script (its CPU-specific code
# is chosen at run time, so one build serves every processor).
# build_sodium <prefix> [MinGW triple]
build_sodium() {
  local prefix=$1 triple=${2:-} version source work stamp
  version=$(source_version libsodium)
  stamp=$prefix/.libsodium-$version
  [ -f "$stamp" ] && return 0
  source=$(unpacked_source libsodium)
  work=$(mktemp -d)
  # MinGW: no stack protector, which would need libssp's DLL beside the programs.
  (cd "$work" && "$source/configure" ${triple:+--host=$triple CC=$triple-gcc-posix --disable-ssp} \
     --prefix="$work/install" --disable-shared \
     --enable-static --with-pic --disable-dependency-tracking CFLAGS="-O2" >"$work/configure.log" 2>&1) ||
    { tail -n 20 "$work/configure.log" >&2; say "FAILED: libsodium could not be configured"; exit 1; }
  make -C "$work" -j2 install >/dev/null 2>&1 || { say "FAILED: libsodium could not be built"; exit 1; }
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$work/install/lib/libsodium.a" "$prefix/lib/"
  rm -rf "$prefix/include/sodium"
  cp -r "$work/install/include/sodium.h" "$work/install/include/sodium" "$prefix/include/"
  rm -rf "$work"
  rm -f "$prefix"/.libsodium-*
  touch "$stamp"
}

build_libpng() {
  local triple=$1 prefix=$2 tc=$3 version source work stamp
  version=$(source_version libpng1.6)
  stamp=$prefix/.libpng1.6-$version
  [ -f "$stamp" ] && return 0
  source=$(unpacked_source libpng1.6)
  work=$(mktemp -d)
  cmake -S "$source" -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_TOOLS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_ROOT=/usr/$triple -DCMAKE_POLICY_DEFAULT_CMP0074=NEW >/dev/null
  cmake --build "$work" >/dev/null
  cmake --install "$work" >/dev/null
  rm -rf "$work"
  rm -f "$prefix"/.libpng1.6-*
  touch "$stamp"
}

build_gtest() {
  local prefix=$1 tc=$2 work
  [ -f "$prefix/lib/libgtest.a" ] && return 0
  work=$(mktemp -d)
  cmake -S /usr/src/googletest -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$work" >/dev/null
  cmake --install "$work" >/dev/null
  rm -rf "$work"
}

build_for() {
  local triple=$1 prefix=$DEPS/$1 tc=$DEPS/$1.cmake
  cat > "$tc" <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER $triple-gcc-posix)
set(CMAKE_CXX_COMPILER $triple-g++-posix)
set(CMAKE_RC_COMPILER $triple-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triple $prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
TC
  build_libpng "$triple" "$prefix" "$tc"
  build_zstd "$prefix" "$triple-gcc-posix" "$triple-ar"
  build_lzma "$prefix" "$tc"
  step "bzip2, $triple" build_bzip2 "$prefix" "$triple-gcc-posix" "$triple-ar"
  step "lz4, $triple" build_lz4 "$prefix" "$triple-gcc-posix" "$triple-ar"
  step "libarchive, $triple" build_libarchive "$prefix" "/usr/$triple/include" "/usr/$triple/lib/libz.a" "$tc"
  step "libsodium, $triple" build_sodium "$prefix" "$triple"
  build_gtest "$prefix" "$tc"
}

step "packages" install_packages
step "peer tools" install_peer_tools
if [ $want_win32 = 1 ]; then
  rm -f "$WIN32_STATUS"
  step "32-bit Wine" install_wine32 || true
fi
[ "${VANTOR_SETUP_ONLY:-}" = packages ] && exit 0
step "libzstd, native" build_zstd "$DEPS/native" gcc ar
step "liblzma, native" build_lzma "$DEPS/native"
step "bzip2, native" build_bzip2 "$DEPS/native" gcc ar
step "lz4, native" build_lz4 "$DEPS/native" gcc ar
step "libarchive, native" build_libarchive "$DEPS/native" /usr/include "$(gcc -print-file-name=libz.so)"
step "libsodium, native" build_sodium "$DEPS/native"
step "libraries for i686" build_for i686-w64-mingw32
step "libraries for x86_64" build_for x86_64-w64-mingw32
say "dependencies ready in $DEPS"
