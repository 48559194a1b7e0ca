#!/usr/bin/env bash
# Starts the local CA peer and pellamo (whose settings point at the peer) and
# runs bench/request_bench against them.
#
#   bench/request_bench.sh [build-dir] [request_bench options...]
#
# Port 3000 must be free (run it under a private network namespace when
# other programs may use it).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
[ $# -gt 0 ] && shift
build="$(cd "$build" && pwd)"
for f in pellamo tools/ca-peer/ca-peer bench/request_bench; do
  [ -x "$build/$f" ] || { echo "missing $build/$f: build pellamo ca-peer request_bench" >&2; exit 1; }
done

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

mkdir -p "$work/peer" "$work/prog/data" "$work/prog/csp" "$work/raw"
"$build/tools/ca-peer/ca-peer" --state "$work/peer" --port 0 >"$work/peer.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q listening "$work/peer.out" 2>/dev/null && break; sleep 0.1; done
peer_port="$(sed -n 's/.*listening on http:\/\/[^:]*:\([0-9]*\).*/\1/p' "$work/peer.out" | head -1)"
[ -n "$peer_port" ] || { echo "the CA peer did not start" >&2; exit 1; }

# settings.dat: signature, version 106, host, port.
python3 - "$work/prog/data/settings.dat" "$peer_port" <<'PY'
import struct, sys
host = b"127.0.0.1"
open(sys.argv[1], "wb").write(bytes([0x1d, 0xf1, 0xde, 0xff]) + struct.pack("<II", 106, len(host)) + host + struct.pack("<I", int(sys.argv[2])))
PY
(cd "$work/prog" && PELLAMO_CSP_DIR="$work/prog/csp" exec "$build/pellamo" >"$work/pellamo.out" 2>&1) &
pids+=($!)
for _ in $(seq 100); do port_open 3000 && break; sleep 0.1; done
port_open 3000 || { echo "pellamo does not listen on port 3000" >&2; exit 1; }

echo "cores: $(nproc)"
PELLAMO_CSP_DIR="$work/raw" NO_PROXY=127.0.0.1 "$build/bench/request_bench" --peer "$peer_port" "$@"
