#!/usr/bin/env bash
# The Windows installer under wine, in a fresh prefix:
#   - a silent install (/S) puts the program, upd_qn.dll and libgcrypt's DLLs
#     (and nothing of the development provider or token) into
#     %LOCALAPPDATA%\Programs\Pellamo, a Start menu entry, a Startup-folder
#     shortcut and an entry in the user's installed programs (HKCU);
#   - the program started from the Startup shortcut runs in its folder (its
#     log there names that data folder) and answers commands 16 and 52;
#   - a second silent install over the running program ends it, replaces the
#     files in place and starts the new one, which serves again;
#   - the silent uninstall ends the program and leaves no program file,
#     shortcut, autostart or installed-programs entry; the user's data stays.
#
# Usage: tests/windows/installer.sh dist/pellamo-setup-<version>.exe
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
setup="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
started_at="$(date +%s)"
failures=0
check() {  # check <description> <command...>
  local what="$1"; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

work="$(mktemp -d)"
xvfb=""
server=""
# No Mono or Gecko, and no menu entries of the host's desktop for the shortcuts.
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
# The checks connect from Linux, whose processes wine cannot name as the
# program's user: they come as a page of an origin the program (which
# inherits this environment through the shortcut) allows.
export PELLAMO_ALLOWED_ORIGINS="http://127.0.0.1:1" PELLAMO_CHECK_ORIGIN="http://127.0.0.1:1"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The program makes a hidden window and a tray icon: wine needs a display.
if [ -z "${DISPLAY:-}" ]; then
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "installer.sh: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(cat "$work/display")"
fi

# The transport server answers the version check with the program's own
# version: no update question, no error box, nothing waits for a click.
port_file="$work/version-port"
python3 - "$port_file" >/dev/null 2>&1 <<'PY' &
import http.server, sys
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b'tesel.message101276'
        self.send_response(200)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
open(sys.argv[1], 'w').write(str(server.server_address[1]))
server.serve_forever()
PY
server=$!

wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }
wine_user="$(ls "$WINEPREFIX/drive_c/users" | grep -vx Public | head -n 1)"
profile="$WINEPREFIX/drive_c/users/$wine_user"
instdir="$profile/AppData/Local/Programs/Pellamo"
windows_instdir="C:\\users\\$wine_user\\AppData\\Local\\Programs\\Pellamo"
menu="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
# Wine names the folder "StartUp", Windows "Startup".
startup_folder() { find "$menu" -maxdepth 1 -iname startup -print -quit 2>/dev/null; }
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pellamo'

serves() { node "$root/tests/windows/ws-check.mjs" >"$work/ws-check.log" 2>&1 || { cat "$work/ws-check.log"; return 1; }; }
port_free() {
  for _ in $(seq 100); do
    node -e "require('net').connect(3000,'127.0.0.1').on('connect',()=>process.exit(1)).on('error',()=>process.exit(0))" && return 0
    sleep 0.2
  done
  return 1
}
registered() { wine reg query "$uninstall_key" /v DisplayVersion 2>/dev/null | tr -d '\r' | grep -q "1.01.276"; }
start_lines() { grep -ciF "pellamo 1.01.276 started; data folder ${windows_instdir}\\data;" "$instdir/data/pellamo.log" 2>/dev/null || true; }

# --- silent install into the fresh prefix
check "silent install succeeds" wine "$setup" /S
startup="$(startup_folder)/Pellamo.lnk"
check "program, update library and libgcrypt's DLLs in %LOCALAPPDATA%\\Programs\\Pellamo" \
  test -f "$instdir/pellamo.exe" -a -f "$instdir/upd_qn.dll" -a -f "$instdir/libgcrypt-20.dll" \
       -a -f "$instdir/libgpg-error-0.dll" -a -f "$instdir/uninstall.exe"
check "nothing else: no development provider or token" \
  test "$(cd "$instdir" && ls | sort | tr '\n' ' ')" = "libgcrypt-20.dll libgpg-error-0.dll pellamo.exe uninstall.exe upd_qn.dll "
check "Start menu entry and Startup-folder shortcut" test -f "$menu/Pellamo.lnk" -a -f "$startup"
check "entry in the user's installed programs (HKCU)" registered

# --- the program started from its Startup shortcut, as at logon
mkdir -p "$instdir/data"
python3 - "$instdir/data/settings.dat" "$(cat "$port_file")" <<'PY'
import struct, sys
host = b'127.0.0.1'
open(sys.argv[1], 'wb').write(bytes([0x1d, 0xf1, 0xde, 0xff]) + struct.pack('<II', 106, len(host)) + host + struct.pack('<I', int(sys.argv[2])))
PY
check "port 3000 is free before the start" port_free
# By its Windows path: start.exe then opens the shortcut as Explorer does, in
# the shortcut's working folder ("start /unix" keeps its own).
startup_windows="C:\\users\\$wine_user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\$(basename "$(dirname "$startup")")\\Pellamo.lnk"
(cd "$work" && wine start "$startup_windows") >/dev/null 2>&1
check "started from the shortcut, the program answers commands 16 and 52" serves
check "it runs in its installation folder: the log there names that data folder" test "$(start_lines)" = 1

# --- a second install over the running program upgrades in place
# A mark in the uninstaller (not loaded by the running program) that only a
# rewrite removes.
echo installed-before >>"$instdir/uninstall.exe"
# The program it starts again keeps the installer's output streams.
check "a second silent install over the running program succeeds" wine "$setup" /S >"$work/upgrade.out" 2>&1
check "the files were written again" bash -c "! grep -q installed-before '$instdir/uninstall.exe'"
check "the new program was started again and serves" serves
check "the old one ended, the new one started in the same folder" test "$(start_lines)" = 2
check "still one installed-programs entry" registered

# --- silent uninstall
check "silent uninstall succeeds" wine "$instdir/uninstall.exe" /S
# The uninstaller runs from a copy of itself and returns at once: wait for it.
for _ in $(seq 150); do [ -e "$instdir/uninstall.exe" ] || break; sleep 0.2; done
wineserver -w >/dev/null 2>&1 || true
check "the program was ended" port_free
check "no program file left" \
  test ! -e "$instdir/pellamo.exe" -a ! -e "$instdir/upd_qn.dll" -a ! -e "$instdir/libgcrypt-20.dll" \
       -a ! -e "$instdir/libgpg-error-0.dll" -a ! -e "$instdir/uninstall.exe" -a ! -e "$instdir/data/backup"
check "no Start menu entry, no autostart shortcut" test ! -e "$menu/Pellamo.lnk" -a ! -e "$startup"
check "no installed-programs entry" bash -c "! wine reg query '$uninstall_key' >/dev/null 2>&1"
check "the user's data stays (settings, log)" test -f "$instdir/data/settings.dat" -a -f "$instdir/data/pellamo.log"

echo "Windows installer test: $(( $(date +%s) - started_at )) s"
if [ "$failures" != 0 ]; then
  echo "--- the program's log:"; cat "$instdir/data/pellamo.log" 2>/dev/null || true
  echo "Windows installer test: $failures failed"
  exit 1
fi
echo "Windows installer test passed"
