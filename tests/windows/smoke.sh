#!/usr/bin/env bash
# Smoke test of the Windows build under wine, in a fresh 64-bit prefix on a
# private Xvfb display, inside a wine virtual desktop with a taskbar (so that
# the tray icon and the windows are drawn):
#   1. a settings file of an unknown version: one error box, exit code 80,
#      no tray icon;
#   2. a normal session (settings name an unreachable transport server):
#      one error box from the update check, hidden main window, tray icon;
#      commands 16 and 52 over WebSocket from Linux, byte for byte as on
#      Linux; tray menu "Настройки" / "&Выход"; the settings dialog with the
#      version and host:port; OK with a new address rewrites settings.dat;
#      "&Выход" ends the program with 0 and removes the tray icon.
# The GUI is driven by tests/windows/driver.cpp (posting messages, no pixel
# clicking). Screenshots of the tray menu and the settings dialog go to
# <build>/smoke/. With PELLAMO_UPDATE_SCREENSHOTS=1 they are also copied to
# docs/windows/ (the copies the README shows).
#
# Usage: tests/windows/smoke.sh [build-folder]   (default: build-win)
# Prints "N passed, M failed" and exits non-zero on any failure.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$root/build-win}"
artifacts="$build/smoke"
started_at="$(date +%s)"

for tool in wine wineboot wineserver Xvfb node import; do
  command -v "$tool" >/dev/null || { echo "smoke.sh: $tool is missing; run: bash tools/setup.sh --windows" >&2; exit 1; }
done
for f in pellamo.exe upd_qn.dll pellamo_win_driver.exe; do
  [ -f "$build/$f" ] || { echo "smoke.sh: $build/$f is missing; run: bash tools/build-windows.sh" >&2; exit 1; }
done
if [ ! -d "$root/tests/e2e/node_modules/ws" ]; then
  (cd "$root/tests/e2e" && npm install --no-audit --no-fund --loglevel=error)
fi

passed=0
failed=0
skipped=0
pass() { passed=$((passed + 1)); echo "  ok   $*"; }
fail() { failed=$((failed + 1)); echo "  FAIL $*"; }
skip() { skipped=$((skipped + 1)); echo "  skip $*"; }
# expect NAME ACTUAL EXPECTED
expect() {
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: got '$2', expected '$3'"; fi
}
# The value of KEY in a driver log (the last one).
logged() { grep -a "^$2=" "$1" 2>/dev/null | tail -n 1 | cut -d= -f2- || true; }
hexdump_file() { od -An -tx1 -v "$1" | tr -d ' \n'; }
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
# A settings file: magic, version, host, port.
settings_hex() { printf '1df1deff%s%s%s%s' "$(le32 "$1")" "$(le32 ${#2})" "$(printf '%s' "$2" | od -An -tx1 -v | tr -d ' \n')" "$(le32 "$3")"; }
write_settings() { printf "$(settings_hex "$2" "$3" "$4" | sed 's/../\\x&/g')" >"$1"; }

# The WebSocket check must meet the program under test, not another server.
if (exec 3<>/dev/tcp/127.0.0.1/3000) 2>/dev/null; then
  echo "smoke.sh: port 3000 is already in use; stop the program that listens there" >&2
  exit 1
fi

tmp="$(mktemp -d /tmp/pellamo-wine.XXXXXX)"
xvfb_pid=""
export WINEPREFIX="$tmp/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# A Russian system: the program's narrow texts and paths are in its ANSI code
# page 1251. Only wine gets the locale; Cyrillic file names also need it on
# the host (the setup generates it).
ru=(env LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8)
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
[ -s "$tmp/display" ] || { cat "$tmp/xvfb.log" >&2; echo "smoke.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$tmp/display")"

t0="$(date +%s)"
"${ru[@]}" wineboot -i >"$tmp/wineboot.log" 2>&1 || true
wineserver -w
echo "wine prefix ready in $(( $(date +%s) - t0 )) s"
mkdir -p "$artifacts"
rm -f "$artifacts"/*.png "$artifacts"/*.log

# new_run NAME: a working folder with the program, the library and the driver.
new_run() {
  local dir="$tmp/$1"
  mkdir -p "$dir/data" "$dir/signals"
  cp "$build/pellamo.exe" "$build/upd_qn.dll" "$build/pellamo_win_driver.exe" "$dir/"
  # libgcrypt (update signatures) and its error library, beside the program.
  cp "$build"/libgcrypt-*.dll "$build"/libgpg-error-*.dll "$dir/"
  echo "$dir"
}
# Runs the driver in the virtual desktop; returns at once.
start_driver() {
  local dir="$1"; shift
  (cd "$dir" && exec "${ru[@]}" wine explorer /desktop=shell,1024x768 pellamo_win_driver.exe driver.log "$@" \
     >"$dir/wine.log" 2>&1) &
}
screenshot() { import -display "$DISPLAY" -window root "$artifacts/$1.png" 2>/dev/null; }
# Pixels of the tray icon's own green at the taskbar's right end (the
# notification area) in screenshot NAME; the area is kept as
# NAME-notification-area.png.
tray_pixels() {
  local shot="$artifacts/$1.png" area="$artifacts/$1-notification-area.png"
  [ -s "$shot" ] || { echo 0; return; }
  convert "$shot" -crop 200x20+824+748 +repage "$area" 2>/dev/null || { echo 0; return; }
  convert "$area" -fuzz 12% -fill black +opaque '#2e8b3a' -fill white -opaque '#2e8b3a' \
    -format '%[fx:round(mean*w*h)]' info: 2>/dev/null || echo 0
}
# Waits until the driver has written its last line ("end" or "exit").
wait_driver() {
  local dir="$1" seconds="$2"
  local deadline=$(( $(date +%s) + seconds ))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    grep -aq '^end=' "$dir/driver.log" 2>/dev/null && return 0
    serve_signals "$dir"
    sleep 0.2
  done
  return 1
}
# Answers the driver's requests (see driver.cpp).
serve_signals() {
  local dir="$1" s name
  for s in "$dir"/signals/*; do
    [ -f "$s" ] || continue
    name="$(basename "$s")"
    case "$name" in *.done) continue ;; esac
    [ -f "$s.done" ] && continue
    case "$name" in
      ready)
        sleep 0.5; screenshot tray
        # A Linux client is no process wine can name as the program's user:
        # it comes as a page of the build's cabinet, which the program allows.
        if PELLAMO_CHECK_ORIGIN=https://lk.pellamo.example node "$root/tests/windows/ws-check.mjs" >"$dir/ws-check.log" 2>&1; then ws_ok=1; else ws_ok=0; fi ;;
      menu) sleep 0.5; screenshot tray-menu ;;
      dialog) sleep 0.5; screenshot settings-dialog ;;
      saved) cp "$dir/data/settings.dat" "$dir/settings-after-ok.dat" 2>/dev/null || true ;;
      exited) sleep 0.5; screenshot after-exit ;;
    esac
    : >"$s.done"
  done
}

echo "== 1. damaged settings file =="
run="$(new_run bad)"
write_settings "$run/data/settings.dat" 107 127.0.0.1 1
start_driver "$run" expect-exit pellamo.exe 90
# expect-exit writes "exit" last; mark the end for wait_driver.
deadline=$(( $(date +%s) + 100 ))
while [ "$(date +%s)" -lt "$deadline" ] && ! grep -aq '^exit=' "$run/driver.log" 2>/dev/null; do sleep 0.2; done
cp "$run/driver.log" "$artifacts/bad-settings.log" 2>/dev/null || true
expect "exit code 80" "$(logged "$run/driver.log" exit)" 80
expect "one message box" "$(logged "$run/driver.log" boxes)" 1
box="$(logged "$run/driver.log" box)"
case "$box" in
  "Pellamo Plugin :: "*"Файл настроек программы поврежден"*) pass "error box: $box" ;;
  *) fail "error box: got '$box'" ;;
esac
expect "no tray icon" "$(logged "$run/driver.log" tray_icons)" 0
wineserver -w

echo "== 2. session =="
# In a folder with a Cyrillic name where the host can spell one: the
# program's narrow paths are in code page 1251.
if locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  run="$(new_run "сеанс")"
else
  echo "  (no ru_RU.UTF-8 locale on the host: the session runs in an ASCII folder)"
  run="$(new_run session)"
fi
# An unreachable transport server: nothing listens on port 1 of loopback.
write_settings "$run/data/settings.dat" 106 127.0.0.1 1
new_host=127.0.0.1
new_port=9301
ws_ok=""
start_driver "$run" session pellamo.exe "$new_host:$new_port" 150
wait_driver "$run" 160 || fail "driver did not finish within 160 s"
cp "$run/driver.log" "$artifacts/session.log" 2>/dev/null || true
log="$run/driver.log"
expect "one error box from the update check" "$(logged "$log" boxes)" 1
echo "       box: $(logged "$log" box)"
expect "hidden main window \"Pellamo\"" \
  "$(logged "$log" main_window)/$(logged "$log" main_window_title)/$(logged "$log" main_window_visible)" "found/Pellamo/0"
expect "tray icon shown" "$(logged "$log" tray_icon)" 1
green="$(tray_pixels tray)"
if [ "$green" -ge 20 ]; then pass "tray icon drawn in the notification area"; else fail "tray icon drawn: $green px"; fi
expect "tray menu shown" "$(logged "$log" menu)" shown
items="$(logged "$log" menu_items)"
if [ "$items" = "unreadable" ] || [ -z "$items" ]; then
  # Order and ids are checked by choosing the items with the keyboard.
  skip "tray menu texts (wine cannot read another process's menu; see tray-menu.png)"
else
  expect "tray menu items" "$items" "Настройки|&Выход"
  expect "tray menu ids" "$(logged "$log" menu_ids)" "32773|105"
fi
expect "settings dialog opened from the menu" "$(logged "$log" settings_opened_by)" menu
expect "dialog shows the version" "$(logged "$log" dialog_version)" 1.01.276
expect "dialog shows host:port" "$(logged "$log" dialog_address)" "127.0.0.1:1"
expect "dialog closed by OK" "$(logged "$log" dialog_after_ok)" closed
expect "settings.dat rewritten with the new address" \
  "$(hexdump_file "$run/settings-after-ok.dat" 2>/dev/null)" "$(settings_hex 106 "$new_host" "$new_port")"
expect "\"&Выход\" chosen from the menu by its mnemonic" "$(logged "$log" exit_chosen_by)" mnemonic
expect "exit code 0" "$(logged "$log" exit)" 0
green="$(tray_pixels after-exit)"
if [ "$green" -lt 20 ]; then pass "tray icon removed"; else fail "tray icon still drawn after exit: $green px"; fi
for shot in tray-menu settings-dialog; do
  if [ -s "$artifacts/$shot.png" ]; then pass "screenshot $shot.png"; else fail "screenshot $shot.png"; fi
done
if [ "${PELLAMO_UPDATE_SCREENSHOTS:-0}" = 1 ]; then
  mkdir -p "$root/docs/windows"
  cp "$artifacts/tray-menu.png" "$artifacts/settings-dialog.png" "$root/docs/windows/"
fi
sed 's/^/       /' "$run/ws-check.log" 2>/dev/null || true
expect "commands 16 and 52 answered byte for byte as on Linux" "$ws_ok" 1

if [ "$failed" -gt 0 ]; then
  for f in "$artifacts"/*.log; do echo "--- $f"; cat "$f"; done
  for d in "$tmp"/*/; do [ -f "$d/wine.log" ] && { echo "--- $d/wine.log"; tail -n 40 "$d/wine.log"; }; done
fi
echo "Windows smoke test took $(( $(date +%s) - started_at )) s"
if [ -n "${PELLAMO_WINDOWS_STAGE_STARTED:-}" ]; then
  echo "Windows stage (cross-build + smoke test) took $(( $(date +%s) - PELLAMO_WINDOWS_STAGE_STARTED )) s"
fi
echo "smoke: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
