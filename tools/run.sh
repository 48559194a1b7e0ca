#!/usr/bin/env bash
# The whole local system: installs what is needed, builds, starts the local CA
# (tools/ca-peer, which also serves the demo cabinet) and pellamo pointed at
# it, and prints where everything is. Ctrl+C ends both.
#
#   bash tools/run.sh                          local CA + pellamo + demo cabinet
#   bash tools/run.sh --https                  the same, the demo also over HTTPS as a real cabinet
#   bash tools/run.sh --transport HOST:PORT    pellamo alone, against a real CA transport server
#
# Folders live under $PELLAMO_RUN_DIR (default ./run in the repository):
# ca-peer/ (the local CA's state and log) and pellamo/ (pellamo's working
# directory: data/ with settings.dat, keys/ with the key containers and
# certificate stores). PELLAMO_PEER_PORT sets the local CA's port (9200),
# PELLAMO_PEER_TLS_PORT its HTTPS port (9443), PELLAMO_BUILD_DIR the build
# folder (./build).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

transport=""
https=0
while [ $# -gt 0 ]; do
  case "$1" in
    --https) https=1; shift ;;
    --transport) transport="${2:-}"; shift 2 ;;
    --transport=*) transport="${1#*=}"; shift ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
if [ -n "$transport" ] && [[ "$transport" != *:* ]]; then
  echo "run.sh: --transport needs HOST:PORT, e.g. ca.example.org:9200" >&2
  exit 2
fi
if [ -n "$transport" ] && [ "$https" = 1 ]; then
  echo "run.sh: --https serves the local demo cabinet; with --transport there is none" >&2
  exit 2
fi

# Only what building and running need; the tests' toolchain is tools/setup.sh's whole.
bash "$root/tools/setup.sh" --run
# A new build folder is configured as a Release build without the tests and
# benchmarks; an existing one (PELLAMO_BUILD_DIR, default ./build) keeps its
# configuration.
build="$(realpath -m "${PELLAMO_BUILD_DIR:-$root/build}")"
configure=(-G Ninja -S "$root" -B "$build" -DPELLAMO_DEVELOPMENT_BUILD=ON)
[ -f "$build/CMakeCache.txt" ] || configure+=(-DCMAKE_BUILD_TYPE=Release -DPELLAMO_TESTS=OFF -DPELLAMO_BENCH=OFF)
cmake "${configure[@]}" >/dev/null
targets=(pellamo)
[ -n "$transport" ] || targets+=(ca-peer)
cmake --build "$build" --target "${targets[@]}"

run_dir="${PELLAMO_RUN_DIR:-$root/run}"
work="$run_dir/pellamo"
keys="$work/keys"
mkdir -p "$work/data" "$keys"

# settings.dat: magic, format version 106, host (u32 length + bytes), port; little-endian.
write_settings() {  # host port
  local host="$1" port="$2"
  {
    printf '\x1d\xf1\xde\xff\x6a\x00\x00\x00'
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((${#host} & 255)) $((${#host} >> 8 & 255)) 0 0)"
    printf '%s' "$host"
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((port & 255)) $((port >> 8 & 255)) 0 0)"
  } >"$work/data/settings.dat"
}

version="$(sed -n 's/.*kProgramVersion = \([0-9]*\);.*/\1/p' "$root/app/VUzeVorido.h")"
version_text="$((version / 100000)).$(printf '%02d' $((version / 1000 % 100))).$(printf '%03d' $((version % 1000)))"

peer_pid=""
pellamo_pid=""
stop() {  # pid
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  trap - INT TERM EXIT
  stop "$pellamo_pid"
  stop "$peer_pid"
}
trap cleanup EXIT
trap 'echo; echo "stopping"; exit 0' INT TERM

if [ -n "$transport" ]; then
  host="${transport%:*}"
  port="${transport##*:}"
  write_settings "$host" "$port"
  transport_line="transport server: $host:$port (settings: $work/data/settings.dat)"
  demo_line="demo cabinet:     not started (a real CA's cabinet connects; allow its origin with PELLAMO_ALLOWED_ORIGINS)"
else
  peer_port="${PELLAMO_PEER_PORT:-9200}"
  peer_state="$run_dir/ca-peer"
  mkdir -p "$peer_state"
  # The local CA publishes this very version, so the update check at start-up
  # finds nothing to do.
  mkdir -p "$peer_state/packages/4/$version"
  peer_args=(--state "$peer_state" --port "$peer_port" --packages "$peer_state/packages" --demo "$root/web/demo")
  # Over HTTPS with a certificate the peer makes for 127.0.0.1 (kept in its
  # state folder), as a real cabinet is served.
  [ "$https" = 0 ] || peer_args+=(--tls-port "${PELLAMO_PEER_TLS_PORT:-9443}")
  "$build/tools/ca-peer/ca-peer" "${peer_args[@]}" >"$peer_state/ca-peer.log" 2>&1 &
  peer_pid=$!
  for _ in $(seq 1 100); do
    grep -q 'listening on' "$peer_state/ca-peer.log" 2>/dev/null && break
    kill -0 "$peer_pid" 2>/dev/null || { cat "$peer_state/ca-peer.log" >&2; exit 1; }
    sleep 0.1
  done
  grep -q 'listening on' "$peer_state/ca-peer.log" || { echo "run.sh: the local CA did not start" >&2; exit 1; }
  write_settings "127.0.0.1" "$peer_port"
  # The program trusts only the local CA's certificates, as a deployment
  # pins its own CA's (the CA writes them before it listens).
  if [ -z "${PELLAMO_CA_CERT_SHA256+set}" ]; then
    PELLAMO_CA_CERT_SHA256="$(sha256sum "$peer_state/ca2001.cer" "$peer_state/ca2012.cer" | cut -d' ' -f1 | tr '\n' ' ')"
    export PELLAMO_CA_CERT_SHA256
  fi
  origin="http://127.0.0.1:$peer_port"
  demo_origin="$origin"
  if [ "$https" = 1 ]; then
    for _ in $(seq 1 50); do
      grep -q 'listening on https' "$peer_state/ca-peer.log" && break
      sleep 0.1
    done
    demo_origin="$(sed -n 's|.*listening on \(https://[^ ]*\).*|\1|p' "$peer_state/ca-peer.log" | head -n 1)"
    [ -n "$demo_origin" ] || { cat "$peer_state/ca-peer.log" >&2; echo "run.sh: the local CA serves no HTTPS" >&2; exit 1; }
  fi
  allowed="$origin"
  [ "$demo_origin" = "$origin" ] || allowed="$demo_origin $origin"
  export PELLAMO_ALLOWED_ORIGINS="$allowed${PELLAMO_ALLOWED_ORIGINS:+ $PELLAMO_ALLOWED_ORIGINS}"
  transport_line="transport server: local CA at $origin (state and log: $peer_state)"
  demo_line="demo cabinet:     $demo_origin/demo/   <- open this address in a browser"
  if [ "$https" = 1 ]; then
    demo_line+=$'\n'"                  (its certificate, made for 127.0.0.1: $peer_state/tls-cert.pem)"
  fi
fi

export PELLAMO_CSP_DIR="$keys"
echo
echo "pellamo version:  $version_text"
echo "serves:           ws://127.0.0.1:3000"
echo "data folder:      $work/data"
echo "keys and stores:  $keys"
echo "$transport_line"
echo "$demo_line"
echo "Ctrl+C ends $( [ -n "$peer_pid" ] && echo 'both' || echo 'it')."
echo

# pellamo reads the terminal (its menu) while the script waits for it, so
# that Ctrl+C or a signal to the script ends both processes.
cd "$work"
"$build/pellamo" <&0 &
pellamo_pid=$!
set +e
wait "$pellamo_pid"
status=$?
set -e
pellamo_pid=""
exit "$status"
