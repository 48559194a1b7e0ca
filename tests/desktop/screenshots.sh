#!/usr/bin/env bash
# The screenshots of docs/linux/: the program's icon and its menu in the
# systray of Xfce's default panel, the settings dialog, and a message box,
# under xfwm4 on a private Xvfb display (800x500) and session bus. Not part
# of the test run; needs xfce4-panel, xfwm4 and ImageMagick besides what
# tools/setup.sh installs. The clicks are placed for that panel and size.
#
#   bash tests/desktop/screenshots.sh BUILD-DIR [OUT-DIR]   (default docs/linux)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "$1" && pwd)"
out="${2:-$root/docs/linux}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

if [ -z "${PELLAMO_SCREENSHOT_SESSION:-}" ]; then
  work="$(mktemp -d)"
  Xvfb -displayfd 9 -screen 0 800x500x24 -nolisten tcp 9>"$work/display" 2>/dev/null &
  xvfb=$!
  trap 'kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  DISPLAY=":$(cat "$work/display")" PELLAMO_SCREENSHOT_SESSION="$work" dbus-run-session -- bash "$0" "$build" "$out"
  exit $?
fi

work="$PELLAMO_SCREENSHOT_SESSION"
export GDK_BACKEND=x11 XDG_CONFIG_HOME="$work/config"
xfwm4 --compositor=off >/dev/null 2>&1 &
wm=$!
xfce4-panel >/dev/null 2>&1 &
panel=$!
sleep 4

# A transport server that refuses: the start shows one error box.
mkdir -p "$work/run/data"
printf '\x1d\xf1\xde\xff\x6a\x00\x00\x00\x09\x00\x00\x00127.0.0.1\x01\x00\x00\x00' >"$work/run/data/settings.dat"
(cd "$work/run" && exec "$build/pellamo" >/dev/null 2>"$work/pellamo.log") &
program=$!
trap 'kill "$program" "$panel" "$wm" 2>/dev/null || true' EXIT
window() { for _ in $(seq 200); do xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 && return; sleep 0.1; done; return 1; }
crop() { import -window root "$work/screen.png" && convert "$work/screen.png" -crop "$2" +repage "$out/$1"; }

window 'Pellamo Plugin'
sleep 1
crop message-box.png 380x140+214+210
xdotool mousemove 404 315 click 1          # OK
sleep 2
xdotool mousemove 675 13 click 1           # the icon, left of the clock
sleep 1.5
crop tray-menu.png 420x100+380+0
xdotool mousemove 728 43 click 1           # "Настройки"
window 'Plugin Pellamo'
sleep 1.5
crop settings-dialog.png 470x215+170+175
xdotool key Escape
sleep 1
xdotool mousemove 675 13 click 1
sleep 1
xdotool mousemove 713 68 click 1           # "Выход"
wait "$program"
echo "screenshots in $out"
