#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages only.
# Idempotent: a second run checks and returns in seconds.
set -euo pipefail

# Several checkouts on one machine may run this at once: apt and the cross-builds take turns.
exec 8>/var/lock/vantor-setup.lock
flock 8

DEPS=${VANTOR_DEPS:-/opt/vantor-deps}
STAMP=$DEPS/.packages-v2
PACKAGES=(
  cmake ninja-build g++ make pkg-config python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  libz-mingw-w64-dev zlib1g-dev libpng-dev libzstd-dev libgtest-dev
  wine wine64 xvfb xauth imagemagick xdotool x11-utils
  fp-utils-3.2.2 nsis zip unzip p7zip-full pigz zstd xz-utils dpkg-dev clang
  fonts-droid-fallback
)

need_packages() {
  [ -f "$STAMP" ] || return 0
  # dpkg-query fails for a package it has never heard of: a package added to the list.
  local status
  status=$(dpkg-query -W -f='${Status}\n' "${PACKAGES[@]}" 2>/dev/null) || return 0
  grep -qv '^install ok installed' <<<"$status" && return 0
  return 1
}

if need_packages; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${PACKAGES[@]}" >/dev/null
  mkdir -p "$DEPS" && touch "$STAMP"
fi

# --- 32-bit Wine through qemu-user ---------------------------------------------------------------
# This kernel cannot execute i386 code. qemu-user from bookworm-backports (Debian 12's own 7.2 cannot
# start 32-bit Wine), registered with binfmt_misc, runs Debian's 32-bit Wine, so the shipped i686
# build is tested as it is. wine32 must be the same version as wine64: they share one wineserver
# protocol and the other checkouts' 64-bit runs must not notice the install.
BACKPORTS_LIST=/etc/apt/sources.list.d/vantor-backports.sources
BINFMT=/proc/sys/fs/binfmt_misc
QEMU_I386=/usr/bin/qemu-i386-static

qemu_is_recent() {
  local v
  v=$(dpkg-query -W -f='${Status} ${Version}\n' qemu-user-static 2>/dev/null) || return 1
  [[ $v == "install ok installed "* ]] || return 1
  dpkg --compare-versions "${v##* }" ge 1:8
}

install_wine32() {
  local wine_version
  wine_version=$(dpkg-query -W -f='${Version}' wine64)
  if [ ! -f "$BACKPORTS_LIST" ]; then
    local uri
    uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
      "${uri:-http://deb.debian.org/debian}" /usr/share/keyrings/debian-archive-keyring.gpg >"$BACKPORTS_LIST"
    apt-get update -qq
  fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt-get update -qq
  fi
  export DEBIAN_FRONTEND=noninteractive
  if ! qemu_is_recent; then
    apt-get install -y -qq --no-remove --no-install-recommends -t bookworm-backports qemu-user-static >/dev/null
  fi
  if [ "$(dpkg-query -W -f='${Status} ${Version}' wine32:i386 2>/dev/null)" != "install ok installed $wine_version" ]; then
    apt-get install -y -qq --no-remove --no-install-recommends "wine32:i386=$wine_version" "libwine:i386=$wine_version" >/dev/null
  fi
}

# The kernel runs i386 programs through qemu; flag F opens the interpreter now, so it works inside
# any mount namespace. Without binfmt_misc the 32-bit runs are skipped (scripts/test.sh says so).
register_qemu_i386() {
  if [ ! -e "$BINFMT/register" ]; then
    mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null || true
  fi
  if [ ! -e "$BINFMT/register" ]; then
    echo "setup: this kernel offers no binfmt_misc; the 32-bit Windows tests will be skipped" >&2
    return 0
  fi
  [ -e "$BINFMT/qemu-i386" ] && return 0
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU_I386"':F' \
    >"$BINFMT/register" 2>/dev/null ||
    echo "setup: could not register $QEMU_I386 with binfmt_misc; the 32-bit Windows tests will be skipped" >&2
}

if [ "${VANTOR_SKIP_WIN32:-0}" != 1 ]; then
  install_wine32
  register_qemu_i386
fi

enable_source_lists() {
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > /etc/apt/sources.list.d/vantor-src.sources
    apt-get update -qq
  fi
}

# libpng is not packaged for MinGW: cross-build Debian's own source package.
fetch_libpng_source() {
  local src=$DEPS/src
  mkdir -p "$src"
  if ! ls "$src"/libpng1.6_*.orig.tar.* >/dev/null 2>&1; then
    enable_source_lists
    (cd "$src" && apt-get source --download-only -qq libpng1.6 >/dev/null 2>&1) || true
  fi
  ls "$src"/libpng1.6_*.orig.tar.* 2>/dev/null | head -n 1 | grep . || { echo "setup: could not fetch the libpng source package" >&2; exit 1; }
}

# libzstd likewise, from the pinned version of Debian's source package (its upstream tarball).
ZSTD_VERSION=1.5.4+dfsg2-5
fetch_zstd_source() {
  local src=$DEPS/src tarball
  tarball=$src/libzstd_${ZSTD_VERSION%-*}.orig.tar.xz
  mkdir -p "$src"
  if [ ! -f "$tarball" ]; then
    enable_source_lists
    (cd "$src" && apt-get source --download-only -qq "libzstd=$ZSTD_VERSION" >/dev/null 2>&1) || true
  fi
  [ -f "$tarball" ] || { echo "setup: could not fetch the libzstd source package" >&2; exit 1; }
  echo "$tarball"
}

# Static, multi-threaded, without the legacy formats; the headers go beside the library.
build_zstd() {
  local triple=$1 prefix=$DEPS/$1 tarball work
  [ -f "$prefix/lib/libzstd.a" ] && return 0
  tarball=$(fetch_zstd_source)
  work=$(mktemp -d)
  tar -xf "$tarball" -C "$work"
  make -C "$work"/zstd-*/lib -j2 libzstd.a-mt CC="$triple-gcc-posix" AR="$triple-ar" \
    ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_ASM=1 CFLAGS=-O2 >/dev/null
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$work"/zstd-*/lib/libzstd.a "$prefix/lib/"
  cp "$work"/zstd-*/lib/zstd.h "$work"/zstd-*/lib/zstd_errors.h "$work"/zstd-*/lib/zdict.h "$prefix/include/"
  rm -rf "$work"
}

build_for() {
  local triple=$1 prefix=$DEPS/$1
  local cc=$triple-gcc-posix cxx=$triple-g++-posix
  local tc=$DEPS/$triple.cmake
  cat > "$tc" <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER $cc)
set(CMAKE_CXX_COMPILER $cxx)
set(CMAKE_RC_COMPILER $triple-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triple $prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
TC
  if [ ! -f "$prefix/lib/libpng16.a" ]; then
    local tarball work
    tarball=$(fetch_libpng_source)
    work=$(mktemp -d)
    tar -xf "$tarball" -C "$work"
    cmake -S "$work"/libpng-* -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
      -DZLIB_ROOT=/usr/$triple -DCMAKE_POLICY_DEFAULT_CMP0074=NEW >/dev/null
    cmake --build "$work/build" >/dev/null
    cmake --install "$work/build" >/dev/null
    rm -rf "$work"
  fi
  build_zstd "$triple"
  if [ ! -f "$prefix/lib/libgtest.a" ]; then
    local work
    work=$(mktemp -d)
    cmake -S /usr/src/googletest -B "$work" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
      -Dgtest_disable_pthreads=OFF >/dev/null
    cmake --build "$work" >/dev/null
    cmake --install "$work" >/dev/null
    rm -rf "$work"
  fi
}

build_for i686-w64-mingw32
build_for x86_64-w64-mingw32
echo "setup: dependencies ready in $DEPS"
