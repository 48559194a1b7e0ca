#!/usr/bin/env bash
# Prepares a wine prefix in which the Windows build has GOST crypto: a fresh
# 64-bit prefix with
#   - the development GOST CryptoAPI provider (pellamo-gostcsp.dll, with
#     libgcrypt's DLLs) in C:\windows\system32, registered with regsvr32 for
#     the provider types 2, 75, 77, 78, 80 and 81;
#   - the software token module (pellamo-softtoken.dll) there under the token
#     vendors' module names rtPKCS11ECP.dll and jcPKCS11-2.dll, and a token
#     configuration (%APPDATA%\pellamo\softtoken\softtoken.conf) with one
#     slot seen through each name.
# Both are development and test tools; neither is ever installed with the
# program.
#
# Usage: tests/windows/prefix.sh BUILD-WIN PREFIX
#   BUILD-WIN  the Windows build folder (tools/build-windows.sh)
#   PREFIX     the prefix to make; it must not exist or be an empty folder
# Then: WINEPREFIX=PREFIX WINEARCH=win64 wine BUILD-WIN/pellamo.exe
# (with LANG=ru_RU.UTF-8 for the program's Russian code page).
set -euo pipefail
started_at="$(date +%s%N)"
die() { echo "prefix.sh: $*" >&2; exit 1; }

[ $# -eq 2 ] || die "usage: tests/windows/prefix.sh BUILD-WIN PREFIX"
build="$(cd "$1" 2>/dev/null && pwd)" || die "no build folder $1"
prefix="$2"
for tool in wine wineboot wineserver; do
  command -v "$tool" >/dev/null || die "$tool is missing; run: bash tools/setup.sh --windows"
done

# The build's files: the provider DLL and the token module in their target
# folders, libgcrypt's DLLs beside the program or from Debian's mingw package.
find_built() {
  local name="$1" dir
  shift
  for dir in "$@"; do
    [ -f "$dir/$name" ] && { echo "$dir/$name"; return 0; }
  done
  die "$name is missing in $build; run: bash tools/build-windows.sh $build"
}
csp="$(find_built pellamo-gostcsp.dll "$build/softgost/windows" "$build")"
token="$(find_built pellamo-softtoken.dll "$build/tools/soft-token" "$build")"
gcrypt="$(find_built libgcrypt-20.dll "$build" "$(dirname "$token")" /usr/x86_64-w64-mingw32/bin)"
gpgerror="$(find_built libgpg-error-0.dll "$build" "$(dirname "$token")" /usr/x86_64-w64-mingw32/bin)"

if [ -e "$prefix" ] && [ -n "$(ls -A "$prefix" 2>/dev/null)" ]; then
  die "$prefix exists and is not empty; give a new folder"
fi
mkdir -p "$prefix"
prefix="$(cd "$prefix" && pwd)"

export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installers (nothing here needs them), no display: wineboot
# and regsvr32 need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
export DISPLAY=
# The locale of the tests' program runs: code page 1251.
ru=(env LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8)

log="$prefix/.prefix-sh.log"
if ! "${ru[@]}" wineboot -i >"$log" 2>&1; then
  cat "$log" >&2
  die "wineboot -i failed"
fi
wineserver -w

sys32="$prefix/drive_c/windows/system32"
[ -d "$sys32" ] || die "wineboot made no $sys32"
cp "$csp" "$gcrypt" "$gpgerror" "$sys32/"
# LoadLibraryA of a bare module name finds these in system32.
cp "$token" "$sys32/rtPKCS11ECP.dll"
cp "$token" "$sys32/jcPKCS11-2.dll"

if ! "${ru[@]}" wine regsvr32 /s pellamo-gostcsp.dll >>"$log" 2>&1; then
  cat "$log" >&2
  die "regsvr32 pellamo-gostcsp.dll failed"
fi
# The registration must have named a default provider for every type (read
# from the registry file once wine has written it).
wineserver -w
for type in 002 075 077 078 080 081; do
  if ! grep -A3 -F "[Software\\\\Microsoft\\\\Cryptography\\\\Defaults\\\\Provider Types\\\\Type $type]" \
       "$prefix/system.reg" | grep -q '^"Name"="Pellamo Development'; then
    cat "$log" >&2
    die "after regsvr32 no default provider of type $type"
  fi
done

# The token configuration at the module's default place. The slot's
# "module" text is matched against the module file's name, whatever the case.
appdata_win="$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')"
appdata="$(winepath -u "$appdata_win" 2>/dev/null)"
[ -n "$appdata_win" ] && [ -n "$appdata" ] || die "cannot find %APPDATA% of the prefix"
mkdir -p "$appdata/pellamo/softtoken"
cat >"$appdata/pellamo/softtoken/softtoken.conf" <<'EOF'
# Software token slots of the test prefix (tests/windows/prefix.sh): each is
# seen only through the module file whose name contains its "module" text.
[slot]
label = Pellamo Test JC
manufacturer = Pellamo
model = JC soft token
serial = 4A43000000000001
pin = 12345678
so-pin = 00000000
wrapped-key = 44
module = jcPKCS11

[slot]
label = Pellamo Test RT
manufacturer = Pellamo
model = RT soft token
serial = 5254000000000002
pin = 12345678
so-pin = 87654321
wrapped-key = 36
module = rtPKCS11
EOF
wineserver -w

elapsed_ms=$(( ($(date +%s%N) - started_at) / 1000000 ))
echo "prefix.sh: prefix $prefix ready in $((elapsed_ms / 1000)).$(printf '%03d' $((elapsed_ms % 1000))) s"
