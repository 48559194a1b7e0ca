#!/usr/bin/env bash
# The development GOST provider under wine: makes a prefix with
# tests/windows/prefix.sh, issues GOST certificates (a CA and a user
# certificate for each of GOST R 34.10-2001, 2012/256 and 2012/512, with
# openssl and Debian's GOST engine), runs pellamo_gostcsp_check.exe against
# the registered provider and the token modules, pellamo_revocation_check.exe
# against CRLs made the same way, checks that regsvr32 /u
# removes the registration, and removes the prefix.
#
# Usage: tests/windows/gostcsp_check.sh [BUILD-WIN]   (default: build-win)
# Prints the check program's lines and "N passed, M failed"; exits non-zero
# on any failure.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$(cd "${1:-$root/build-win}" && pwd)"
die() { echo "gostcsp_check.sh: $*" >&2; exit 1; }

check_exe=""
for f in "$build/softgost/windows/pellamo_gostcsp_check.exe" "$build/pellamo_gostcsp_check.exe"; do
  [ -f "$f" ] && { check_exe="$f"; break; }
done
[ -n "$check_exe" ] || die "pellamo_gostcsp_check.exe is missing; run: bash tools/build-windows.sh $build"
command -v openssl >/dev/null || die "openssl is missing"

tmp="$(mktemp -d /tmp/pellamo-gostcsp.XXXXXX)"
export WINEPREFIX="$tmp/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
ru=(env LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8)
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT

bash "$root/tests/windows/prefix.sh" "$build" "$WINEPREFIX"

# Certificates: a self-signed CA and a user certificate it issued, per kind.
certs="$tmp/certs"
mkdir -p "$certs"
printf 'openssl_conf = conf\n[conf]\nengines = engines\n[engines]\ngost = gost\n[gost]\nengine_id = gost\ndefault_algorithms = ALL\n' >"$certs/gost.cnf"
gost_openssl() { OPENSSL_CONF="$certs/gost.cnf" openssl "$@"; }
chains=()
for kind in "gost2001 md_gost94" "gost2012_256 md_gost12_256" "gost2012_512 md_gost12_512"; do
  set -- $kind
  alg="$1" md="$2" base="$certs/$1"
  {
    gost_openssl genpkey -algorithm "$alg" -pkeyopt paramset:A -out "$base-ca.key"
    gost_openssl req -x509 -new -key "$base-ca.key" "-$md" -days 30 -subj "/CN=Test CA $alg" \
      -addext basicConstraints=critical,CA:TRUE -outform DER -out "$base-ca.cer"
    gost_openssl genpkey -algorithm "$alg" -pkeyopt paramset:A -out "$base-user.key"
    gost_openssl req -new -key "$base-user.key" "-$md" -subj "/CN=Test user $alg" -out "$base-user.csr"
    gost_openssl x509 -req -in "$base-user.csr" -CA "$base-ca.cer" -CAform DER -CAkey "$base-ca.key" "-$md" \
      -days 10 -set_serial 7 -outform DER -out "$base-user.cer"
  } >"$certs/openssl.log" 2>&1 || { cat "$certs/openssl.log" >&2; die "openssl with the GOST engine failed"; }
  chains+=(--chain "$(winepath -w "$base-ca.cer")" "$(winepath -w "$base-user.cer")")
done

# CRLs for the program's revocation check: the 2012/256 CA's (naming the
# user's serial 7 for key compromise, naming another serial, out of date),
# and ones naming serial 7 from a CA of the same name with another key and
# from a CA of another name.
revocation_exe="$build/pellamo_revocation_check.exe"
crls="$certs/crls"
if [ -f "$revocation_exe" ]; then
  mkdir -p "$crls"
  {
    cp "$certs/gost.cnf" "$crls/ca.cnf"
    printf '[ca]\ndefault_ca = crl_ca\n[crl_ca]\ndatabase = %s/index.txt\ndefault_md = md_gost12_256\n' "$crls" >>"$crls/ca.cnf"
    # gencrl KEY CERT.pem SERIAL OUT [openssl ca options]
    gencrl() {
      local key="$1" cert="$2" serial="$3" out="$4"
      shift 4
      printf 'R\t301231000000Z\t240101000000Z,keyCompromise\t%s\tunknown\t/CN=Test user\n' "$serial" >"$crls/index.txt"
      OPENSSL_CONF="$crls/ca.cnf" openssl ca -batch -config "$crls/ca.cnf" -gencrl -keyfile "$key" -cert "$cert" "$@" -out "$crls/crl.pem"
      gost_openssl crl -in "$crls/crl.pem" -outform DER -out "$crls/$out"
    }
    base="$certs/gost2012_256"
    cp "$base-ca.cer" "$crls/ca.cer"
    cp "$base-user.cer" "$crls/user.cer"
    gost_openssl x509 -inform DER -in "$base-ca.cer" -out "$crls/ca.pem"
    for other in impostor:"/CN=Test CA gost2012_256" other:"/CN=Other CA gost2012_256"; do
      gost_openssl genpkey -algorithm gost2012_256 -pkeyopt paramset:A -out "$crls/${other%%:*}.key"
      gost_openssl req -x509 -new -key "$crls/${other%%:*}.key" -md_gost12_256 -days 30 -subj "${other#*:}" \
        -addext basicConstraints=critical,CA:TRUE -out "$crls/${other%%:*}.pem"
    done
    gost_openssl x509 -in "$crls/impostor.pem" -outform DER -out "$crls/impostor.cer"
    gencrl "$base-ca.key" "$crls/ca.pem" 07 revoked.crl -crldays 2
    gencrl "$base-ca.key" "$crls/ca.pem" 08 good.crl -crldays 2
    gencrl "$base-ca.key" "$crls/ca.pem" 07 expired.crl -crl_lastupdate 20200101000000Z -crl_nextupdate 20200201000000Z
    gencrl "$crls/impostor.key" "$crls/impostor.pem" 07 impostor.crl -crldays 2
    gencrl "$crls/other.key" "$crls/other.pem" 07 other.crl -crldays 2
  } >"$crls/openssl.log" 2>&1 || { cat "$crls/openssl.log" >&2; die "openssl could not make the test CRLs"; }
fi

# A Linux session's XDG_DATA_HOME reaches Windows programs under wine; the
# modules must still find their files in the prefix.
export XDG_DATA_HOME=/nonexistent/xdg-data
# Each run keeps its containers in a folder of its own.
export PELLAMO_CSP_DIR="$(winepath -w "$tmp/csp")"
status=0
"${ru[@]}" wine "$check_exe" "${chains[@]}" \
  --token rtPKCS11ECP.dll "Pellamo Test RT" --token jcPKCS11-2.dll "Pellamo Test JC" || status=$?
if [ -f "$revocation_exe" ]; then
  "${ru[@]}" wine "$revocation_exe" "$(winepath -w "$crls")" || status=1
else
  echo "  FAIL $revocation_exe is missing"
  status=1
fi
# The containers are in the store's file format, readable from Linux.
if [ -d "$tmp/csp/containers" ] && [ -n "$(ls -A "$tmp/csp/containers")" ]; then
  echo "  FAIL containers left behind: $(ls "$tmp/csp/containers")"
  status=1
fi

# Unregistering removes the provider types and the provider entries.
"${ru[@]}" wine regsvr32 /s /u pellamo-gostcsp.dll >/dev/null 2>&1 || { echo "  FAIL regsvr32 /u"; status=1; }
wineserver -w
if grep -q "Pellamo Development" "$WINEPREFIX/system.reg"; then
  echo "  FAIL regsvr32 /u left entries: $(grep -c 'Pellamo Development' "$WINEPREFIX/system.reg")"
  status=1
elif grep -q '1\.2\.643\.' "$WINEPREFIX/system.reg"; then
  echo "  FAIL regsvr32 /u left GOST OID entries: $(grep -c '1\.2\.643\.' "$WINEPREFIX/system.reg")"
  status=1
else
  echo "  ok   regsvr32 /u removed the registration"
fi
exit "$status"
