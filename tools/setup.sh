#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Pellamo
# needs, plus the npm WebSocket client used by the end-to-end tests.
# Idempotent; meant for a fresh Debian 12 machine, run as root.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  libboost-dev
  libcurl4-openssl-dev
  libgcrypt20-dev
  libssl-dev openssl libengine-gost-openssl
  libgtest-dev googletest libgmock-dev
  libbenchmark-dev
  nodejs
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "${PELLAMO_APT_UPDATE:-0}" = 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
# Debian's own nodejs ships npm separately; other builds bundle it.
if ! command -v npm >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends npm
fi

# The end-to-end tests talk to the service through an independent client.
if [ ! -d "$here/tests/e2e/node_modules/ws" ]; then
  (cd "$here/tests/e2e" && npm install --no-audit --no-fund --loglevel=error)
fi
