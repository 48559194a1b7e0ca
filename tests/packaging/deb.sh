#!/usr/bin/env bash
# The Debian package on this machine (meant for disposable machines: CI's,
# run as root): lintian finds no error; dpkg -i installs it; an ordinary user
# starts the program the way the XDG autostart entry does, in a data folder of
# their own, and it answers commands 16 and 52; a second start ends at once
# saying the program already runs; the log holds the start line; dpkg --purge
# leaves none of the package's files.
#
# Usage: tests/packaging/deb.sh dist/pellamo_<version>_amd64.deb
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
deb="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
user=pellamo-pkgtest
failures=0
check() {  # check <description> <command...>
  local what="$1"; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

[ "$(id -u)" = 0 ] || { echo "deb.sh: installs a package: run as root (on a disposable machine)" >&2; exit 2; }
work="$(mktemp -d)"
chmod 755 "$work"
program_pid=""
cleanup() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then kill -TERM "$program_pid" 2>/dev/null || true; fi
  if dpkg-query -W -f='${Status}' pellamo 2>/dev/null | grep -q 'install ok'; then dpkg --purge pellamo >/dev/null 2>&1 || true; fi
  if id -u "$user" >/dev/null 2>&1; then userdel -r "$user" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- lintian: no error (warnings kept are explained in the package's overrides)
check "lintian reports no error" lintian --fail-on error "$deb"

# --- install
dpkg -i "$deb" >/dev/null
files="$(dpkg -L pellamo)"
autostart=/etc/xdg/autostart/pellamo.desktop
check "the autostart entry is installed" test -f "$autostart"
check "the desktop entry, manual page, icon and launcher are installed" \
  test -f /usr/share/applications/pellamo.desktop -a -f /usr/share/man/man1/pellamo.1.gz \
       -a -f /usr/share/icons/hicolor/48x48/apps/pellamo.png -a -x /usr/bin/pellamo
exec_line="$(sed -n 's/^Exec=//p' "$autostart")"
check "the autostart entry starts the launcher on the PATH" test "$exec_line" = pellamo

# --- an ordinary user, as a graphical session would start the program
id -u "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/sh "$user"
home="$(getent passwd "$user" | cut -d: -f6)"
data="$home/.local/share/pellamo/data"
as_user() { runuser -u "$user" -- env -i HOME="$home" USER="$user" PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 "$@"; }
# The update check asks a closed local port instead of the built-in host.
as_user mkdir -p "$data"
python3 - "$data/settings.dat" <<'PY'
import struct, sys
host = b'127.0.0.1'
open(sys.argv[1], 'wb').write(bytes([0x1d, 0xf1, 0xde, 0xff]) + struct.pack('<II', 106, len(host)) + host + struct.pack('<I', 9))
PY
chown "$user:" "$data/settings.dat"

as_user sh -c "exec $exec_line" >"$work/first.out" 2>"$work/first.err" &
program_pid=$!
# The client runs as the same user, from copies it can read.
mkdir -p "$work/windows" "$work/e2e/node_modules"
cp "$root/tests/windows/ws-check.mjs" "$work/windows/"
cp "$root/tests/e2e/catalog.json" "$root/tests/e2e/package.json" "$work/e2e/"
cp -r "$root/tests/e2e/node_modules/ws" "$work/e2e/node_modules/"
chmod -R a+rX "$work"
check "commands 16 and 52 are answered" as_user node "$work/windows/ws-check.mjs"
check "the program runs as the user" test "$(ps -o user= -p "$(cat "$data/pellamo.lock" 2>/dev/null || echo 0)" 2>/dev/null)" = "$user"
check "its data folder is the user's, under ~/.local/share/pellamo" test "$(stat -c %U "$data")" = "$user"
check "the working folder is private (0700)" test "$(stat -c %a "$home/.local/share/pellamo")" = 700

started=$(date +%s%N)
set +e
as_user sh -c "exec $exec_line" >"$work/second.out" 2>"$work/second.err"
second_status=$?
set -e
elapsed_ms=$(( ($(date +%s%N) - started) / 1000000 ))
check "a second start ends at once (${elapsed_ms} ms) with status 0" test "$second_status" = 0 -a "$elapsed_ms" -lt 5000
check "and says the program already runs" grep -q 'Программа уже запущена' "$work/second.err"
check "the first one still runs" kill -0 "$program_pid"

log="$data/pellamo.log"
check "the log names version, data folder, listen address and transport server" \
  grep -q "pellamo 1.01.276 started; data folder $data; listening on ws://127.0.0.1:3000; transport server 127.0.0.1:9" "$log"
check "the log has what the program wrote to standard error" \
  grep -q 'Не удаётся связаться с сервером УЦ' "$log"
check "the second start's message is in the log too" grep -q 'Программа уже запущена' "$log"

# End the program (its own pid, from the lock file) and wait for it.
pid="$(cat "$data/pellamo.lock")"
kill -TERM "$pid"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
check "SIGTERM ends the program" bash -c "! kill -0 $pid 2>/dev/null"
wait "$program_pid" 2>/dev/null || true
program_pid=""

# --- purge: none of the package's files stay
dpkg --purge pellamo >/dev/null
left=()
while IFS= read -r f; do
  [ -z "$f" ] || [ "$f" = "/." ] && continue
  # Folders the package shares with others stay; its own files and folders go.
  if [ -e "$f" ] && { [ ! -d "$f" ] || [[ "$f" == */pellamo ]]; }; then left+=("$f"); fi
done <<<"$files"
check "dpkg --purge leaves none of the package's files (${#left[@]} left: ${left[*]:-})" test "${#left[@]}" = 0

if [ "$failures" != 0 ]; then
  echo "--- first start, standard error:"; cat "$work/first.err" || true
  echo "--- second start, standard error:"; cat "$work/second.err" || true
  echo "Debian package test: $failures failed"
  exit 1
fi
echo "Debian package test passed"
