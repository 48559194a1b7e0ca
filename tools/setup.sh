#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Pellamo
# needs, plus the npm WebSocket client used by the end-to-end tests.
# Idempotent; meant for a fresh Debian 12 machine, run as root.
#
# With --windows (or PELLAMO_WINDOWS=1) it also installs the Windows
# cross-build toolchain, wine and Xvfb for the Windows smoke test (about
# 1.3 GB), and makes Debian's source packages reachable for the libcurl build.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

windows="${PELLAMO_WINDOWS:-0}"
for arg in "$@"; do
  case "$arg" in
    --windows) windows=1 ;;
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
)

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

# The end-to-end tests talk to the service through an independent client.
if [ ! -d "$here/tests/e2e/node_modules/ws" ]; then
  (cd "$here/tests/e2e" && npm install --no-audit --no-fund --loglevel=error)
fi

# --- Windows stage (opt-in)
if [ "$windows" = 1 ]; then
  win_packages=(
    g++-mingw-w64-x86-64-posix mingw-w64-tools
    libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
    wine wine64 fonts-wine xvfb xauth imagemagick
    locales dpkg-dev
  )
  missing=()
  for p in "${win_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  # libcurl for Windows is built from Debian's source package of curl, which
  # `apt-get source` fetches through deb-src entries.
  src_list=/etc/apt/sources.list.d/pellamo-deb-src.sources
  need_update=0
  if ! grep -rqsE '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' \
      /etc/apt/sources.list /etc/apt/sources.list.d/; then
    codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
    cat > "$src_list" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
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
