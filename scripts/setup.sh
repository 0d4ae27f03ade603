#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a fresh machine.
# Idempotent: Debian packages are only installed when missing, and built
# dependencies (libcurl, GoogleTest, pugixml) are cached outside the repository,
# keyed by their version. A second run takes seconds.
set -euo pipefail

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/env.sh"

log() { printf '[setup] %s\n' "$*"; }

# ---------------------------------------------------------------- packages
PACKAGES=(
  cmake ninja-build ccache make dpkg-dev pkg-config
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 wine xvfb xdotool x11-utils imagemagick librsvg2-bin zopfli xcompmgr
  fonts-wqy-zenhei fonts-wqy-microhei
  googletest nginx-light openssl tinyproxy python3 curl
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  log "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Source packages need a deb-src entry. Derive it from the machine's own apt
# source list so that no archive host is written down anywhere.
ensure_deb_src() {
  local src=/etc/apt/sources.list.d/debian.sources
  local out=/etc/apt/sources.list.d/kv-deb-src.sources
  [[ -f $out ]] && return 0
  if grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ || grep -qs '^deb-src' /etc/apt/sources.list; then
    return 0
  fi
  if [[ -f $src ]]; then
    sed 's/^Types:.*/Types: deb-src/' "$src" >"$out"
  elif [[ -f /etc/apt/sources.list ]]; then
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >"${out%.sources}.list"
  fi
  apt-get update -qq
}

# ---------------------------------------------------------------- toolchain
TOOLCHAIN="$KV_ROOT/cmake/mingw-w64-x86_64.cmake"

# Fetch the Debian source of $1, version $3, into $2 (once).
fetch_source() {
  local pkg=$1 dest=$2 ver=$3
  [[ -d $dest ]] && return 0
  ensure_deb_src
  local tmp; tmp="$(mktemp -d)"
  (cd "$tmp" && apt-get source -qq "$pkg=$ver" >/dev/null 2>&1)
  local dir; dir="$(find "$tmp" -maxdepth 1 -mindepth 1 -type d | head -1)"
  mv "$dir" "$dest"
  rm -rf "$tmp"
}

# Cross-builds one CMake project into $KV_DEPS/<name>-<version>-<flags hash>
# (once) and points this checkout's $KV_DEP_LINKS/<name> at it. The hash of
# the configure arguments is part of the key, so a changed build recipe never
# reuses a stale cache entry and never replaces what other checkouts sharing
# the cache are using. Arguments: name version source-dir cmake-args...
build_cmake_dep() {
  local name=$1 ver=$2 src=$3; shift 3
  local key; key="$ver-$(printf '%s\n' "$@" | sha256sum | cut -c1-8)"
  local prefix="$KV_DEPS/$name-$key" bld="$KV_DEPS/build/$name-$key"
  mkdir -p "$KV_DEP_LINKS"
  ln -sfn "$prefix" "$KV_DEP_LINKS/$name"
  if [[ -f $prefix/.done ]]; then log "$name $key cached"; return 0; fi
  [[ -d $src ]] || fetch_source "$name" "$src" "$ver"
  log "building $name $key for mingw"
  rm -rf "$bld"
  cmake -S "$src" -B "$bld" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    "$@" >"$bld.log" 2>&1 &&
    cmake --build "$bld" ${KV_JOBS:+-j "$KV_JOBS"} >>"$bld.log" 2>&1 &&
    cmake --install "$bld" >>"$bld.log" 2>&1 || { tail -30 "$bld.log"; exit 1; }
  touch "$prefix/.done"
}

source_version() { apt-cache showsrc "$1" | awk '/^Version:/{print $2; exit}'; }

# Size flags shared by the dependencies that end up in the installer: code and
# data in sections of their own (so the installer's link drops what it never
# calls) and optimisation for size.
SECTIONS="-ffunction-sections -fdata-sections"
SIZE_FLAGS=(-DCMAKE_C_FLAGS_RELEASE="-Os -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-Os -DNDEBUG")

# Features of libcurl the installer never uses: no cookie, MIME form, netrc,
# alt-svc, HSTS, DNS-over-HTTPS, date-parsing, header-API, option-lookup or
# progress-meter code, and no verbose texts. Proxy support (and with it SOCKS)
# stays, and so does HTTP authentication for proxies that ask who the user is:
# Basic, Digest, NTLM and Negotiate through Windows' SSPI (HTTP_AUTH,
# CRYPTO_AUTH and NTLM on). Some switches have no CMake option in this version
# and are passed as definitions.
CURL_OFF=(COOKIES MIME NETRC ALTSVC HSTS DOH PARSEDATE HEADERS_API
  GETOPTIONS SHUFFLE_DNS PROGRESS_METER VERBOSE_STRINGS LIBCURL_OPTION)

# libcurl is C and never unwinds: without unwind tables (.pdata/.xdata) the
# installer's link can drop the functions it never calls (the linker keeps
# every function that has an unwind entry). The C library's own scanf and
# printf (Windows') serve its one sscanf and its floating-point formatting,
# instead of the mingw-w64 C99 versions (about 40 KB).
CURL_LEAN="-fno-asynchronous-unwind-tables -D__USE_MINGW_ANSI_STDIO=0"

build_curl() {
  local ver; ver="$(source_version curl)"
  local defs; defs="$(printf ' -DCURL_DISABLE_%s=1' "${CURL_OFF[@]}")"
  # HTTP (and https through Windows' own Schannel) is the only protocol; no
  # compression, no IDN.
  build_cmake_dep curl "$ver" "$KV_DEPS/src/curl-$ver" \
    -DCURL_STATICLIB=ON -DBUILD_CURL_EXE=ON -DBUILD_TESTING=OFF \
    -DCURL_USE_OPENSSL=OFF -DCURL_USE_SCHANNEL=ON -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF \
    -DCURL_ZLIB=OFF -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DENABLE_UNIX_SOCKETS=OFF -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON \
    -DHTTP_ONLY=ON -DENABLE_MANUAL=OFF -DCMAKE_EXE_LINKER_FLAGS="-static" \
    "${SIZE_FLAGS[@]}" -DCMAKE_C_FLAGS="$SECTIONS$defs $CURL_LEAN"
}

build_gtest() {
  build_cmake_dep googletest "$(dpkg-query -W -f='${Version}' googletest)" /usr/src/googletest \
    -Dgtest_disable_pthreads=OFF
}

# Link-time-optimisable as well as ordinary objects: the installer's
# optimised link drops the functions it never calls (the plain link keeps
# every function that has an unwind entry), other links use the machine code.
LTO_FAT="-flto -ffat-lto-objects"

# The markup reader only parses a buffer and walks nodes and attributes: no
# XPath, no std::string or iostream interfaces (their stream overloads pull the
# C++ runtime's whole locale machinery into the installer).
build_pugixml() {
  local ver; ver="$(source_version pugixml)"
  build_cmake_dep pugixml "$ver" "$KV_DEPS/src/pugixml-$ver" -DPUGIXML_WCHAR_MODE=ON -DBUILD_TESTING=OFF \
    -DPUGIXML_NO_XPATH=ON -DPUGIXML_NO_STL=ON -DPUGIXML_NO_EXCEPTIONS=ON \
    "${SIZE_FLAGS[@]}" -DCMAKE_CXX_FLAGS="$SECTIONS $LTO_FAT"
}

# The installer takes raw inflate (the skin package) and CRC-32 from zlib:
# built here for size, link-time-optimisable, with the CRC tables computed on
# first use instead of stored (about 12 KB of the file; zlib computes them
# once, guarded by C11 atomics). Debian's source leaves out the resource file
# that zlib's CMake project needs for its DLL, so the static library is made
# with zlib's own configure script, cached like the CMake builds above.
build_zlib() {
  local ver; ver="$(source_version zlib)"
  local flags="-Os -DNDEBUG $SECTIONS $LTO_FAT -DDYNAMIC_CRC_TABLE"
  local key; key="${ver#*:}-$(printf '%s\n' "$flags" | sha256sum | cut -c1-8)"
  local prefix="$KV_DEPS/zlib-$key" bld="$KV_DEPS/build/zlib-$key" src="$KV_DEPS/src/zlib-${ver#*:}"
  ln -sfn "$prefix" "$KV_DEP_LINKS/zlib"
  if [[ -f $prefix/.done ]]; then log "zlib $key cached"; return 0; fi
  [[ -d $src ]] || fetch_source zlib "$src" "$ver"
  log "building zlib $key for mingw"
  rm -rf "$bld"; mkdir -p "$bld"
  (cd "$bld" && CHOST=x86_64-w64-mingw32 CFLAGS="$flags" "$src/configure" --static --prefix="$prefix" &&
    make ${KV_JOBS:+-j "$KV_JOBS"} libz.a && make install) >"$bld.log" 2>&1 || { tail -30 "$bld.log"; exit 1; }
  touch "$prefix/.done"
}

mkdir -p "$KV_DEPS/build" "$KV_DEPS/src"
ensure_deb_src
build_curl
build_gtest
build_pugixml
build_zlib
"$HERE/wine-prefix.sh"
log "ready (cache: $KV_DEPS)"
