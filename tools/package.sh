#!/usr/bin/env bash
# Builds the installable packages into dist/:
#   dist/pellamo_<version>_amd64.deb      the Debian package (built with
#                                         PELLAMO_DISTRIBUTION_PACKAGE=ON: the
#                                         package manager updates the program)
#   dist/pellamo-setup-<version>.exe      the per-user Windows installer (NSIS),
#                                         when the mingw-w64 toolchain is there
#
# Usage: tools/package.sh [--deb] [--exe]        (default: both; the .exe only
#                                                 when mingw-w64 and makensis exist)
#
# Builds as tools/build-windows.sh does: the update signing key is
# PELLAMO_UPDATE_PUBLIC_KEY, and a build without one must say
# PELLAMO_DEVELOPMENT_BUILD=1 (packages for users name the vendor's key).
#
# Build folders (made and built when missing):
#   PELLAMO_PACKAGE_BUILD_DIR      Linux build folder (default build-package)
#   PELLAMO_PACKAGE_WIN_BUILD_DIR  Windows build folder (default build-win-package)
# PELLAMO_PACKAGE_REUSE_BUILD=1 takes the Linux folder as it is configured
# (the test script hands over its tested build): only the distribution switch
# is turned on for the package and back off afterwards, which rebuilds one
# source file. PELLAMO_PACKAGE_REUSE_WIN_BUILD=1 packages the Windows folder's
# files as they are, without building.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dist="${PELLAMO_DIST_DIR:-$root/dist}"
jobs="$(nproc 2>/dev/null || echo 2)"

want_deb=0
want_exe=0
for arg in "$@"; do
  case "$arg" in
    --deb) want_deb=1 ;;
    --exe) want_exe=1 ;;
    -h|--help) sed -n '2,24p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "package.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done
explicit=$((want_deb + want_exe))
if [ "$explicit" = 0 ]; then
  want_deb=1
  want_exe=1
fi

# The program's version, 101276, in the forms the packages want: 1.01.276
# for Debian and the installer's file name, 1.1.276.0 for Windows' numeric
# version fields.
program_version="$(sed -n 's/^inline constexpr unsigned kProgramVersion = \([0-9]*\);.*/\1/p' "$root/app/VUzeVorido.h")"
[ -n "$program_version" ] || { echo "package.sh: kProgramVersion not found in app/VUzeVorido.h" >&2; exit 1; }
major=$((program_version / 100000))
minor=$(((program_version % 100000) / 1000))
build=$((program_version % 1000))
version="$(printf '%d.%02d.%03d' "$major" "$minor" "$build")"
numeric_version="$major.$minor.$build.0"

key_options=()
if [ -n "${PELLAMO_UPDATE_PUBLIC_KEY:-}" ]; then
  [ -f "$PELLAMO_UPDATE_PUBLIC_KEY" ] || { echo "package.sh: no update key file $PELLAMO_UPDATE_PUBLIC_KEY" >&2; exit 2; }
  key_options+=("-DPELLAMO_UPDATE_PUBLIC_KEY=$(cd "$(dirname "$PELLAMO_UPDATE_PUBLIC_KEY")" && pwd)/$(basename "$PELLAMO_UPDATE_PUBLIC_KEY")")
fi
case "${PELLAMO_DEVELOPMENT_BUILD:-}" in
  "") ;;
  1|ON|on|yes|YES|true) key_options+=("-DPELLAMO_DEVELOPMENT_BUILD=ON") ;;
  0|OFF|off|no|NO|false) key_options+=("-DPELLAMO_DEVELOPMENT_BUILD=OFF") ;;
  *) echo "package.sh: PELLAMO_DEVELOPMENT_BUILD must be 1 or 0" >&2; exit 2 ;;
esac

mkdir -p "$dist"
seconds() { date +%s; }

# ------------------------------------------------------------------ Debian
build_deb() {
  local started build stage meta libdir deb
  started="$(seconds)"
  build="${PELLAMO_PACKAGE_BUILD_DIR:-$root/build-package}"
  mkdir -p "$build"
  build="$(cd "$build" && pwd)"
  if [ "${PELLAMO_PACKAGE_REUSE_BUILD:-0}" = 1 ]; then
    [ -f "$build/CMakeCache.txt" ] || { echo "package.sh: $build is not a configured build folder" >&2; exit 1; }
    # Back to a self-updating build whatever happens below (the next build
    # of the folder recompiles the one file).
    reused_build="$build"
    trap 'cmake -S "$root" -B "$reused_build" -DPELLAMO_DISTRIBUTION_PACKAGE=OFF >/dev/null' EXIT
    cmake -S "$root" -B "$build" -DPELLAMO_DISTRIBUTION_PACKAGE=ON >/dev/null
  else
    # Debian's hardening flags (stack protector, fortified functions, full RELRO).
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    cmake -G Ninja -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)" \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
      -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
      -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
      -DPELLAMO_TESTS=OFF -DPELLAMO_BENCH=OFF -DPELLAMO_CA_PEER=OFF -DPELLAMO_DISTRIBUTION_PACKAGE=ON \
      ${key_options[@]+"${key_options[@]}"} >"$build/package-configure.log" 2>&1 \
      || { cat "$build/package-configure.log" >&2; exit 1; }
  fi
  cmake --build "$build" --target pellamo -j "$jobs"

  stage="$(mktemp -d)"
  meta="$(mktemp -d)"
  chmod 755 "$stage"
  libdir=usr/lib/x86_64-linux-gnu/pellamo
  DESTDIR="$stage" cmake --install "$build" --prefix /usr --component pellamo --strip >/dev/null
  [ -x "$stage/$libdir/pellamo" ] && [ -f "$stage/$libdir/libupd_qn.so" ] \
    || { echo "package.sh: the install did not put pellamo and libupd_qn.so into /$libdir" >&2; exit 1; }
  # As Debian's packaging tools strip: the compiler's notes go too.
  find "$stage/$libdir" -type f \( -name pellamo -o -name '*.so' \) \
    -exec strip --remove-section=.comment --remove-section=.note {} +
  local pkg="$root/packaging"
  install -D -m 0755 "$pkg/debian/pellamo-launcher" "$stage/usr/bin/pellamo"
  install -D -m 0644 "$pkg/debian/pellamo.desktop" "$stage/usr/share/applications/pellamo.desktop"
  install -D -m 0644 "$pkg/debian/pellamo-autostart.desktop" "$stage/etc/xdg/autostart/pellamo.desktop"
  install -D -m 0644 "$pkg/icons/pellamo-48.png" "$stage/usr/share/icons/hicolor/48x48/apps/pellamo.png"
  install -D -m 0644 "$pkg/icons/pellamo-256.png" "$stage/usr/share/icons/hicolor/256x256/apps/pellamo.png"
  install -D -m 0644 "$pkg/debian/pellamo.1" "$stage/usr/share/man/man1/pellamo.1"
  gzip -9n "$stage/usr/share/man/man1/pellamo.1"
  install -D -m 0644 "$pkg/debian/copyright" "$stage/usr/share/doc/pellamo/copyright"
  # A native package: its changelog is changelog.gz.
  gzip -9nc "$pkg/debian/changelog" >"$stage/usr/share/doc/pellamo/changelog.gz"
  chmod 0644 "$stage/usr/share/doc/pellamo/changelog.gz"
  install -D -m 0644 "$pkg/debian/pellamo.lintian-overrides" "$stage/usr/share/lintian/overrides/pellamo"
  find "$stage" -type d -exec chmod 0755 {} +
  find "$stage/$libdir" -name '*.so' -exec chmod 0644 {} +

  # dpkg's own tools work from a source-like folder with debian/control and
  # debian/changelog; the package's version is the changelog's.
  mkdir -p "$meta/debian"
  cp "$pkg/debian/control" "$pkg/debian/changelog" "$meta/debian/"
  grep -q "^pellamo ($version)" "$meta/debian/changelog" \
    || { echo "package.sh: packaging/debian/changelog does not start with version $version" >&2; exit 1; }
  (
    cd "$meta"
    local elves=()
    while IFS= read -r f; do elves+=("$f"); done < <(find "$stage" -type f \( -name '*.so' -o -perm -u+x \) -exec sh -c 'head -c 4 "$1" | grep -q "ELF" && echo "$1"' _ {} \;)
    dpkg-shlibdeps -Tdebian/substvars -l"$stage/$libdir" "${elves[@]}" 2>"$meta/shlibdeps.log" \
      || { cat "$meta/shlibdeps.log" >&2; exit 1; }
    echo 'misc:Depends=' >>debian/substvars
    mkdir -p "$stage/DEBIAN"
    dpkg-gencontrol -ppellamo -P"$stage" -Tdebian/substvars
  )
  (cd "$stage" && find usr etc -type f ! -path 'etc/*' -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
  # Files under /etc are configuration files: kept when the package is
  # removed, gone when it is purged.
  (cd "$stage" && find etc -type f | sed 's|^|/|' >DEBIAN/conffiles)
  chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums" "$stage/DEBIAN/conffiles"
  deb="$dist/pellamo_${version}_amd64.deb"
  rm -f "$deb"
  dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
  rm -rf "$stage" "$meta"
  echo "Debian package: $deb ($(( $(seconds) - started )) s)"
}

# ------------------------------------------------------------------ Windows
build_exe() {
  local started build out
  started="$(seconds)"
  build="${PELLAMO_PACKAGE_WIN_BUILD_DIR:-$root/build-win-package}"
  if [ "${PELLAMO_PACKAGE_REUSE_WIN_BUILD:-0}" != 1 ]; then
    bash "$root/tools/build-windows.sh" "$build"
  fi
  build="$(cd "$build" && pwd)"
  for f in pellamo.exe upd_qn.dll libgcrypt-20.dll libgpg-error-0.dll; do
    [ -f "$build/$f" ] || { echo "package.sh: $build/$f is missing" >&2; exit 1; }
  done
  # The installer carries stripped copies (libgcrypt's DLLs come with their
  # symbols).
  local files
  files="$(mktemp -d)"
  for f in pellamo.exe upd_qn.dll libgcrypt-20.dll libgpg-error-0.dll; do
    x86_64-w64-mingw32-strip --strip-unneeded -o "$files/$f" "$build/$f"
  done
  out="$dist/pellamo-setup-${version}.exe"
  rm -f "$out"
  makensis -V2 -INPUTCHARSET UTF8 \
    -DVERSION="$version" -DNUMERIC_VERSION="$numeric_version" \
    -DBUILD_DIR="$files" -DOUT_FILE="$out" -DICON="$root/app/res/pellamo.ico" \
    "$root/packaging/windows/pellamo.nsi"
  rm -rf "$files"
  echo "Windows installer: $out ($(( $(seconds) - started )) s)"
}

if [ "$want_deb" = 1 ]; then
  build_deb
fi
if [ "$want_exe" = 1 ]; then
  if command -v makensis >/dev/null 2>&1 && command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
    build_exe
  elif [ "$explicit" != 0 ]; then
    echo "package.sh: the installer needs makensis and mingw-w64: bash tools/setup.sh --windows" >&2
    exit 1
  else
    echo "Windows installer skipped: no mingw-w64 toolchain or makensis (bash tools/setup.sh --windows)"
  fi
fi
