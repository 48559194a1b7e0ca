#!/usr/bin/env bash
# The end-to-end suites of tests/e2e against pellamo.exe under wine: the same
# test files as for the Linux program, run by lib/host.mjs as `wine
# pellamo.exe` in one prefix made by tests/windows/prefix.sh (the GOST
# provider registered, the soft token in system32 under the vendor names).
# The local CA peer and the Linux side of the soft token (for pkcs11-tool)
# come from the Linux build.
#
# Usage: tests/windows/e2e.sh [windows-build] [linux-build]
#        (defaults: build-win, build-test; the store tool is taken from the
#        Windows build unless PELLAMO_WIN_STORETOOL names it)
# PELLAMO_WINE_SUITES="run security" runs only those suites.
# Prints each suite's time and the total; exits non-zero if any suite fails.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build-win}" && pwd)"
linux="$(cd "${2:-$root/build-test}" && pwd)"
started_at="$(date +%s)"

for tool in wine wineserver node pkcs11-tool openssl python3; do
  command -v "$tool" >/dev/null || { echo "e2e.sh: $tool is missing; run: bash tools/setup.sh --windows" >&2; exit 1; }
done
storetool="${PELLAMO_WIN_STORETOOL:-$build/pellamo_win_storetool.exe}"
for f in "$build/pellamo.exe" "$storetool" "$linux/tools/ca-peer/ca-peer" "$linux/tools/soft-token/libpellamo-softtoken.so"; do
  [ -f "$f" ] || { echo "e2e.sh: $f is missing" >&2; exit 1; }
done
[ -f "$root/tests/windows/prefix.sh" ] || { echo "e2e.sh: tests/windows/prefix.sh is missing" >&2; exit 1; }
if [ ! -d "$root/tests/e2e/node_modules/ws" ]; then
  (cd "$root/tests/e2e" && npm install --no-audit --no-fund --loglevel=error)
fi

tmp="$(mktemp -d /tmp/pellamo-wine-e2e.XXXXXX)"
xvfb_pid=""
export PELLAMO_WINE_PREFIX="$tmp/prefix"
export PELLAMO_WIN_STORETOOL="$storetool"
export CA_PEER="$linux/tools/ca-peer/ca-peer"
export SOFT_TOKEN="$linux/tools/soft-token/libpellamo-softtoken.so"
cleanup() {
  WINEPREFIX="$PELLAMO_WINE_PREFIX" wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# The program makes a (hidden) window and a tray icon: wine needs a display.
if [ -z "${DISPLAY:-}" ]; then
  command -v Xvfb >/dev/null || { echo "e2e.sh: Xvfb is missing" >&2; exit 1; }
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
  [ -s "$tmp/display" ] || { cat "$tmp/xvfb.log" >&2; echo "e2e.sh: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(head -n 1 "$tmp/display")"
fi

t0="$(date +%s)"
bash "$root/tests/windows/prefix.sh" "$build" "$PELLAMO_WINE_PREFIX"
echo "wine prefix for the suites ready in $(( $(date +%s) - t0 )) s"
if [ -f "$root/tests/windows/gostcsp_check.sh" ]; then
  t0="$(date +%s)"
  bash "$root/tests/windows/gostcsp_check.sh" "$build"
  echo "gostcsp_check.sh took $(( $(date +%s) - t0 )) s"
fi

# Port 3000 is the program's: wait for anyone else's instance to end.
wait_for_port() {
  local deadline=$(( $(date +%s) + 180 ))
  while ss -ltn 2>/dev/null | grep -q ':3000 '; do
    [ "$(date +%s)" -lt "$deadline" ] || { echo "e2e.sh: port 3000 stays in use" >&2; return 1; }
    sleep 1
  done
}

# Processes of this prefix still running (their environment names it).
prefix_processes() {
  local env
  for env in /proc/[0-9]*/environ; do
    { tr '\0' '\n' <"$env"; } 2>/dev/null | grep -qx "WINEPREFIX=$PELLAMO_WINE_PREFIX" && basename "$(dirname "$env")"
  done
  return 0
}

suites=(${PELLAMO_WINE_SUITES:-run security process request certs tokens registry instance})
failed=()
summary=""
for suite in "${suites[@]}"; do
  wait_for_port
  echo "== wine: $suite.mjs =="
  t0="$(date +%s)"
  if node "$root/tests/e2e/$suite.mjs" "$build/pellamo.exe"; then status=ok; else status=FAILED; failed+=("$suite"); fi
  took=$(( $(date +%s) - t0 ))
  summary+="  $suite.mjs: $status in $took s"$'\n'
  # Nothing of the suite may stay behind: it ends the prefix's processes.
  left="$(prefix_processes)"
  if [ -n "$left" ]; then
    echo "e2e.sh: processes of the prefix outlived $suite.mjs: $(echo $left)" >&2
    failed+=("$suite (left a process)")
    WINEPREFIX="$PELLAMO_WINE_PREFIX" wineserver -k >/dev/null 2>&1 || true
  fi
done
echo "wine end-to-end suites:"
printf '%s' "$summary"
echo "wine end-to-end stage took $(( $(date +%s) - started_at )) s"
if [ "${#failed[@]}" -gt 0 ]; then
  echo "wine end-to-end: failed: ${failed[*]}"
  exit 1
fi
