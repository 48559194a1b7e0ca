#!/usr/bin/env bash
# Cross-builds pellamo.exe and upd_qn.dll for 64-bit Windows with mingw-w64.
# Needs the Windows stage of the setup (bash tools/setup.sh --windows).
#
# The dependencies are prepared once and cached in <build>/deps:
#   - libcurl, built from Debian's source package of curl: static, HTTP and
#     HTTPS only, TLS through Windows' own Schannel, no other libraries;
#   - an include folder that holds only a link to the host's Boost headers
#     (Asio and Beast are header-only), so that the host's system include
#     folder never comes onto the mingw include path.
#
# Usage: tools/build-windows.sh [--update-key <vendor.pub>] [build-folder]   (default: build-win)
#
# The update signing key: --update-key, else PELLAMO_UPDATE_PUBLIC_KEY in the
# environment. A build without one keeps the repository's test key, which
# only a development build may do: PELLAMO_DEVELOPMENT_BUILD=1 in the
# environment (0 declares a build that is not one).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
update_key="${PELLAMO_UPDATE_PUBLIC_KEY:-}"
while [ $# -gt 0 ]; do
  case "$1" in
    --update-key) [ $# -ge 2 ] || { echo "build-windows.sh: --update-key needs a file" >&2; exit 2; }
                  update_key="$2"; shift 2 ;;
    --update-key=*) update_key="${1#--update-key=}"; shift ;;
    *) break ;;
  esac
done
build="${1:-$root/build-win}"
key_options=()
if [ -n "$update_key" ]; then
  [ -f "$update_key" ] || { echo "build-windows.sh: no update key file $update_key" >&2; exit 2; }
  key_options+=("-DPELLAMO_UPDATE_PUBLIC_KEY=$(cd "$(dirname "$update_key")" && pwd)/$(basename "$update_key")")
fi
case "${PELLAMO_DEVELOPMENT_BUILD:-}" in
  "") ;;
  1|ON|on|yes|YES|true) key_options+=("-DPELLAMO_DEVELOPMENT_BUILD=ON") ;;
  0|OFF|off|no|NO|false) key_options+=("-DPELLAMO_DEVELOPMENT_BUILD=OFF") ;;
  *) echo "build-windows.sh: PELLAMO_DEVELOPMENT_BUILD must be 1 or 0" >&2; exit 2 ;;
esac
# An absolute path: CMake refuses relative include folders in targets.
mkdir -p "$build"
build="$(cd "$build" && pwd)"
deps="$build/deps"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
jobs="$(nproc 2>/dev/null || echo 2)"

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  echo "build-windows.sh: mingw-w64 is missing; run: bash tools/setup.sh --windows" >&2
  exit 1
fi

seconds() { date +%s; }

# --- libcurl (cached)
curl_prefix="$deps/curl"
if [ ! -f "$curl_prefix/lib/libcurl.a" ] || [ ! -f "$curl_prefix/lib/cmake/CURL/CURLConfig.cmake" ]; then
  started="$(seconds)"
  rm -rf "$deps/curl-src" "$deps/curl-build" "$curl_prefix"
  mkdir -p "$deps/curl-src"
  (cd "$deps/curl-src" && apt-get source -qq curl >/dev/null 2>&1) || {
    echo "build-windows.sh: apt-get source curl failed (deb-src entries missing? run: bash tools/setup.sh --windows)" >&2
    exit 1
  }
  src="$(find "$deps/curl-src" -mindepth 1 -maxdepth 1 -type d -name 'curl-*' | head -n 1)"
  cmake -G Ninja -S "$src" -B "$deps/curl-build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$curl_prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DHTTP_ONLY=ON \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF \
    -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF \
    -DCURL_DISABLE_LDAP=ON -DENABLE_UNICODE=OFF \
    >"$deps/curl-configure.log" 2>&1 || { cat "$deps/curl-configure.log" >&2; exit 1; }
  cmake --build "$deps/curl-build" -j "$jobs" --target install >"$deps/curl-build.log" 2>&1 \
    || { tail -n 50 "$deps/curl-build.log" >&2; exit 1; }
  rm -rf "$deps/curl-build"
  echo "libcurl for Windows built in $(( $(seconds) - started )) s"
fi

# --- Boost headers, alone in their include folder
boost_include="$deps/boost-include"
if [ ! -e "$boost_include/boost/version.hpp" ]; then
  mkdir -p "$boost_include"
  ln -sfn /usr/include/boost "$boost_include/boost"
fi

# --- the program and the library
started="$(seconds)"
mkdir -p "$build"
cmake -G Ninja -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release \
  -DPELLAMO_TESTS=OFF -DPELLAMO_BENCH=OFF \
  ${key_options[@]+"${key_options[@]}"} \
  -DCURL_DIR="$curl_prefix/lib/cmake/CURL" \
  -DBoost_INCLUDE_DIR="$boost_include" -DBoost_NO_SYSTEM_PATHS=ON \
  >"$build/configure.log" 2>&1 || { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j "$jobs"
# upd_qn.dll checks update signatures with libgcrypt, which is linked as a DLL
# (LGPL): it and libgpg-error ship beside the program.
for dll in libgcrypt-20.dll libgpg-error-0.dll; do
  src="/usr/x86_64-w64-mingw32/bin/$dll"
  [ -f "$src" ] || { echo "build-windows.sh: $src is missing; run: bash tools/setup.sh --windows" >&2; exit 1; }
  cp "$src" "$build/"
done
echo "Windows cross-build done in $(( $(seconds) - started )) s: $build/pellamo.exe $build/upd_qn.dll"
