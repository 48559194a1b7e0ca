#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Pellamo
# needs (chromium and firefox-esr for the demo cabinet's browser tests), plus
# the npm packages of the end-to-end tests, the client library's tests and the
# browser tests. Idempotent; meant for a fresh Debian 12 machine, run as root.
#
# With --run it installs only what building and running the program and the
# local CA need (tools/run.sh): no test toolchain, browsers or npm packages.
#
# With --windows (or PELLAMO_WINDOWS=1) it also installs the Windows
# cross-build toolchain, wine and Xvfb for the Windows smoke test (about
# 1.3 GB), and makes Debian's source packages reachable for the libcurl build.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

windows="${PELLAMO_WINDOWS:-0}"
mode=all
for arg in "$@"; do
  case "$arg" in
    --windows) windows=1 ;;
    --run) mode=run ;;
    *) echo "setup.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  libboost-dev
  libcurl4-openssl-dev
  libgcrypt20-dev
  libp11-kit-dev
  opensc softhsm2
  libssl-dev openssl libengine-gost-openssl
  libgtest-dev googletest libgmock-dev
  libbenchmark-dev
  nodejs
  python3
  clang libclang-rt-dev
  chromium firefox-esr
  # The Linux desktop module and its tests (tray icon over D-Bus, dialogs, Xvfb).
  libgtk-3-dev libayatana-appindicator3-dev
  xvfb xauth xdotool dbus-daemon python3-dbus python3-gi gir1.2-atspi-2.0 at-spi2-core
  dpkg-dev lintian
)

if [ "$mode" = run ]; then
  packages=(
    build-essential cmake ninja-build pkg-config ca-certificates
    libboost-dev libcurl4-openssl-dev libgcrypt20-dev libp11-kit-dev
    libssl-dev openssl libengine-gost-openssl
    libgtk-3-dev libayatana-appindicator3-dev
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "${PELLAMO_APT_UPDATE:-0}" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "${missing[@]}"
fi
# Debian's own nodejs ships npm separately; other builds bundle it.
if ! command -v npm >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends npm
fi
[ "$mode" = all ] || exit 0

# The end-to-end tests talk to the service through an independent client.
if [ ! -d "$here/tests/e2e/node_modules/ws" ]; then
  (cd "$here/tests/e2e" && npm install --no-audit --no-fund --loglevel=error)
fi
# The client library's tests (ws), and the browser tests: puppeteer-core drives
# Debian's chromium (it downloads no browser of its own).
if [ ! -d "$here/web/node_modules/ws" ] || [ ! -d "$here/web/node_modules/typescript" ]; then
  (cd "$here/web" && npm install --no-audit --no-fund --loglevel=error)
fi
if [ ! -d "$here/tests/browser/node_modules/puppeteer-core" ]; then
  (cd "$here/tests/browser" && npm install --no-audit --no-fund --loglevel=error)
fi

# --- Windows stage (opt-in)
if [ "$windows" = 1 ]; then
  win_packages=(
    g++-mingw-w64-x86-64-posix mingw-w64-tools
    libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
    wine wine64 fonts-wine xvfb xauth imagemagick
    locales dpkg-dev
    nsis
    libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
  )
  missing=()
  for p in "${win_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  # libcurl for Windows is built from Debian's source package of curl, which
  # `apt-get source` fetches through deb-src entries. Where the machine has
  # none, they are made from its own binary package sources (the same
  # mirrors, suites, components and keys), so no package host is named here.
  src_dir=/etc/apt/sources.list.d
  need_update=0
  if ! grep -rqsE '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list "$src_dir"/; then
    # One-line entries: "deb [options] uri suite components".
    # Either kind of file may be missing altogether.
    { cat /etc/apt/sources.list "$src_dir"/*.list 2>/dev/null || true; } \
      | sed -n 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' >"$src_dir/pellamo-deb-src.list"
    [ -s "$src_dir/pellamo-deb-src.list" ] || rm -f "$src_dir/pellamo-deb-src.list"
    # deb822 stanzas whose Types include deb, repeated with Types: deb-src.
    for f in "$src_dir"/*.sources; do
      [ -e "$f" ] || continue
      awk 'function flush() { if (isdeb && body != "") printf "Types: deb-src\n%s\n", body; body = ""; isdeb = 0 }
           /^[[:space:]]*$/ { flush(); next }
           /^#/ { next }
           /^Types:/ { for (i = 2; i <= NF; i++) if ($i == "deb") isdeb = 1; next }
           { body = body $0 "\n" }
           END { flush() }' "$f"
    done >"$src_dir/pellamo-deb-src.sources"
    [ -s "$src_dir/pellamo-deb-src.sources" ] || rm -f "$src_dir/pellamo-deb-src.sources"
    need_update=1
  fi
  if [ "${#missing[@]}" -gt 0 ] || [ "$need_update" = 1 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    [ "${#missing[@]}" -eq 0 ] || apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "${missing[@]}"
  fi
  # wine plays a Russian system (ANSI code page 1251, Cyrillic file names),
  # which needs the host's Russian UTF-8 locale.
  if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
    sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
  fi
fi
