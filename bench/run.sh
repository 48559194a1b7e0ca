#!/usr/bin/env bash
# Measures the WebSocket command service against a bare echo server of the
# same design and prints one table row per command and connection count,
# with the ratio pellamo/echo of the request rates.
#
#   bench/run.sh [build-dir] [ws_load options...]
#
# The build directory (default: build-rel) is configured as a Release build
# and the three programs are built there when missing. Port 3000 (pellamo)
# and 3001 (echo) must be free.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-rel}"
[ $# -gt 0 ] && shift
mkdir -p "$build"
build="$(cd "$build" && pwd)"

if [ ! -x "$build/pellamo" ] || [ ! -x "$build/bench/ws_load" ] || [ ! -x "$build/bench/ws_echo_server" ]; then
  cmake -G Ninja -S "$root" -B "$build" -DPELLAMO_DEVELOPMENT_BUILD=ON -DCMAKE_BUILD_TYPE=Release -DPELLAMO_BENCH=ON >/dev/null
  ninja -C "$build" -j2 pellamo ws_load ws_echo_server
fi

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for port in 3000 3001; do
  if port_open "$port"; then echo "port $port is in use" >&2; exit 1; fi
done

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$work" && exec "$build/pellamo" >"$work/pellamo.out" 2>"$work/pellamo.err") &
pids+=($!)
"$build/bench/ws_echo_server" --port 3001 --threads 4 &
pids+=($!)

for port in 3000 3001; do
  for _ in $(seq 100); do port_open "$port" && break; sleep 0.1; done
  port_open "$port" || { echo "nothing listens on port $port" >&2; exit 1; }
done

echo "cores: $(nproc); pellamo and echo server: 4 I/O threads each"
"$build/bench/ws_load" --pellamo 127.0.0.1:3000 --echo 127.0.0.1:3001 "$@"
