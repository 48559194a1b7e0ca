#!/usr/bin/env bash
# Starts the local CA peer and pellamo (whose settings point at the peer) and
# runs bench/request_bench against them.
#
#   bench/request_bench.sh [build-dir] [--kinds 75,80,81] [request_bench options...]
#
# Kinds of the 2012/512 class (78, 81) agree only with a 512-bit CA key, and
# the peer makes a 256-bit GOST 2012 CA: they run against a second peer whose
# state folder holds a 512-bit CA made with openssl's GOST engine, and a
# pellamo restarted for it (port 3000 is fixed, so one pellamo at a time).
# A bare WebSocket server (bench/ws_echo_server, when built) on port 3001 is
# the floor for command 42's 20 MiB message. Ports 3000 and 3001 must be free
# (run it under a private network namespace when other programs may use
# them).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
[ $# -gt 0 ] && shift
build="$(cd "$build" && pwd)"
for f in pellamo tools/ca-peer/ca-peer bench/request_bench; do
  [ -x "$build/$f" ] || { echo "missing $build/$f: build pellamo ca-peer request_bench" >&2; exit 1; }
done

kinds="75,80,81"
options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --kinds) kinds="${2:?--kinds needs a list}"; shift 2 ;;
    *) options+=("$1"); shift ;;
  esac
done
kinds256=() kinds512=()
IFS=, read -ra all <<<"$kinds"
for k in "${all[@]}"; do
  case "$k" in 78|81) kinds512+=("$k") ;; *) kinds256+=("$k") ;; esac
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

# Starts a peer on the state folder $1 and pellamo pointed at it, in the
# folder $2; sets peer_port, peer_pid and prog_pid.
start_pair() {
  local state="$1" prog="$2"
  mkdir -p "$state" "$prog/data" "$prog/csp"
  "$build/tools/ca-peer/ca-peer" --state "$state" --port 0 >"$prog.peer.out" 2>&1 &
  peer_pid=$!
  pids+=("$peer_pid")
  for _ in $(seq 100); do grep -q listening "$prog.peer.out" 2>/dev/null && break; sleep 0.1; done
  peer_port="$(sed -n 's/.*listening on http:\/\/[^:]*:\([0-9]*\).*/\1/p' "$prog.peer.out" | head -1)"
  [ -n "$peer_port" ] || { echo "the CA peer did not start" >&2; exit 1; }
  # settings.dat: signature, version 106, host, port.
  python3 - "$prog/data/settings.dat" "$peer_port" <<'PY'
import struct, sys
host = b"127.0.0.1"
open(sys.argv[1], "wb").write(bytes([0x1d, 0xf1, 0xde, 0xff]) + struct.pack("<II", 106, len(host)) + host + struct.pack("<I", int(sys.argv[2])))
PY
  (cd "$prog" && PELLAMO_CSP_DIR="$prog/csp" exec "$build/pellamo" >"$prog.out" 2>&1) &
  prog_pid=$!
  pids+=("$prog_pid")
  for _ in $(seq 100); do port_open 3000 && break; sleep 0.1; done
  port_open 3000 || { echo "pellamo does not listen on port 3000" >&2; exit 1; }
}

stop_pair() {
  kill "$prog_pid" "$peer_pid" 2>/dev/null || true
  wait "$prog_pid" "$peer_pid" 2>/dev/null || true
  for _ in $(seq 100); do port_open 3000 || break; sleep 0.1; done
}

# A peer state folder whose GOST 2012 CA key is 512 bits (the peer keeps a CA
# it finds in its folder).
make_ca512() {
  local state="$1"
  mkdir -p "$state"
  printf '%s\n' 'openssl_conf = conf' '[conf]' 'engines = engines' '[engines]' 'gost = gost' '[gost]' \
    'engine_id = gost' 'default_algorithms = ALL' >"$work/gost.cnf"
  OPENSSL_CONF="$work/gost.cnf" openssl genpkey -algorithm gost2012_512 -pkeyopt paramset:A -out "$state/ca2012.key"
  OPENSSL_CONF="$work/gost.cnf" openssl req -x509 -new -key "$state/ca2012.key" -md_gost12_512 -days 3650 \
    -subj '/C=RU/O=Pellamo test CA/CN=Pellamo Test CA GOST 2012-512' -addext 'basicConstraints=critical,CA:TRUE' \
    -addext 'subjectKeyIdentifier=hash' -outform DER -out "$state/ca2012.cer"
}

# A bare WebSocket server (no command processing, short replies) on port
# 3001: the floor for command 42's large message.
bare=()
if [ -x "$build/bench/ws_echo_server" ]; then
  "$build/bench/ws_echo_server" --port 3001 --threads 4 --short-reply >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do port_open 3001 && break; sleep 0.1; done
  port_open 3001 && bare=(--bare 127.0.0.1:3001)
fi

echo "cores: $(nproc)"
mkdir -p "$work/raw"
# One request_bench per pair: $1 kinds (comma list), then its own options.
bench() {
  local list="$1"
  shift
  PELLAMO_CSP_DIR="$work/raw" NO_PROXY=127.0.0.1 "$build/bench/request_bench" --peer "$peer_port" --kinds "$list" "$@" \
    "${bare[@]}" "${options[@]}"
}
join() { local IFS=,; echo "$*"; }
# Command 42 (--attachment) runs once, with the last pair.
if [ ${#kinds256[@]} -gt 0 ] || [ ${#kinds512[@]} -eq 0 ]; then
  start_pair "$work/peer" "$work/prog"
  bench "$(join "${kinds256[@]}")" --attachment "$([ ${#kinds512[@]} -eq 0 ] && echo 1 || echo 0)"
  stop_pair
fi
if [ ${#kinds512[@]} -gt 0 ]; then
  make_ca512 "$work/peer512"
  start_pair "$work/peer512" "$work/prog512"
  bench "$(join "${kinds512[@]}")" --header "$([ ${#kinds256[@]} -eq 0 ] && echo 1 || echo 0)" --attachment 1
  stop_pair
fi
