#!/usr/bin/env bash
# Installs what is needed, builds, and runs pellamo in the foreground with its
# defaults (WebSocket service on port 3000; data folder ./data under the
# current directory). Ctrl+C ends it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/setup.sh"
cmake -G Ninja -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target pellamo
exec "$root/build/pellamo" "$@"
