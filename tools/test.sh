#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test twice: once in
# a normal build and once under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc 2>/dev/null || echo 2)"
bash "$root/tools/setup.sh"
# The suites drive the program without a desktop even when run from one (its
# dialogs would wait for a person); the desktop test makes its own session.
export PELLAMO_DESKTOP=0

run_suite() {
  local dir="$1"; shift
  cmake -G Ninja -S "$root" -B "$dir" -DPELLAMO_DEVELOPMENT_BUILD=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== normal build =="
run_suite "$root/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLAMO_BENCH=ON

echo "== sanitizer build (ASan + UBSan) =="
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DPELLAMO_SANITIZE=ON -DPELLAMO_BENCH=OFF

echo "== fuzzing: every reader of outside bytes (libFuzzer + ASan + UBSan, bounded) =="
fuzz_dir="$root/build-fuzz"
fuzz_targets=(card_fuzz header_fuzz registry_fuzz settings_fuzz updateinfo_fuzz packet_fuzz keyblob_fuzz cert_fuzz
  dispatch_fuzz classifier_fuzz)
cmake -G Ninja -S "$root" -B "$fuzz_dir" -DPELLAMO_DEVELOPMENT_BUILD=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLAMO_FUZZ=ON -DPELLAMO_BENCH=OFF >/dev/null
cmake --build "$fuzz_dir" --target "${fuzz_targets[@]}" -j "$jobs"
fuzz() {  # fuzz <target> <seed corpus name> <seconds>
  local corpus=("$fuzz_dir/corpus/$2")
  mkdir -p "${corpus[0]}"
  [ -d "$root/tests/fuzz/corpus/$2" ] && corpus+=("$root/tests/fuzz/corpus/$2")
  # Targets that make their seeds with the real code (keys, signatures)
  # write them into the first corpus folder before fuzzing starts.
  if ! PELLAMO_FUZZ_SEEDS="${corpus[0]}" \
      LSAN_OPTIONS="suppressions=$root/tests/fuzz/lsan.supp:print_suppressions=0" "$fuzz_dir/tests/$1" -max_total_time="$3" -timeout=20 \
      "${corpus[@]}" >"$fuzz_dir/$1.log" 2>&1; then
    tail -n 60 "$fuzz_dir/$1.log"
    exit 1
  fi
  echo "$1: $(tail -n 1 "$fuzz_dir/$1.log")"
}
# About two and a half minutes in all, so that CI stays within its hour;
# PELLAMO_FUZZ_SECONDS gives every target longer.
seconds="${PELLAMO_FUZZ_SECONDS:-}"
fuzz card_fuzz card "${seconds:-15}"
fuzz header_fuzz header "${seconds:-10}"
fuzz settings_fuzz settings "${seconds:-10}"
fuzz updateinfo_fuzz updateinfo "${seconds:-10}"
fuzz packet_fuzz packet "${seconds:-20}"
fuzz keyblob_fuzz keyblob "${seconds:-15}"
fuzz cert_fuzz cert "${seconds:-15}"
fuzz registry_fuzz registry "${seconds:-10}"
fuzz classifier_fuzz classifier "${seconds:-10}"
fuzz dispatch_fuzz dispatch "${seconds:-25}"

# PELLAMO_TSAN_STAGE=0 skips this stage.
if [ "${PELLAMO_TSAN_STAGE:-1}" = 1 ]; then
echo "== ThreadSanitizer: the concurrency tests =="
tsan_dir="$root/build-tsan"
cmake -G Ninja -S "$root" -B "$tsan_dir" -DPELLAMO_DEVELOPMENT_BUILD=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLAMO_TSAN=ON \
  -DPELLAMO_BENCH=OFF >/dev/null
cmake --build "$tsan_dir" --target test_server test_app test_transport pellamo ca-peer -j "$jobs"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
"$tsan_dir/tests/test_server"
"$tsan_dir/tests/test_app" --gtest_filter='*Concurren*'
"$tsan_dir/tests/test_transport" --gtest_filter='HttpClient.Threads*'
# Two tabs making and installing requests at the same time, against the peer.
PELLAMO_E2E_CASES='two connections' node "$root/tests/e2e/request.mjs" "$tsan_dir/pellamo"
unset TSAN_OPTIONS
fi

# Windows: cross-build of pellamo.exe and upd_qn.dll, the smoke test and the
# end-to-end suites under wine, when the Windows toolchain is installed (bash tools/setup.sh --windows,
# or PELLAMO_WINDOWS=1 as CI does). libcurl for Windows is cached in
# build-win/deps after the first run.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  echo "== Windows: cross-build, smoke test and end-to-end suites under wine =="
  PELLAMO_WINDOWS_STAGE_STARTED="$(date +%s)"
  export PELLAMO_WINDOWS_STAGE_STARTED
  PELLAMO_DEVELOPMENT_BUILD=1 bash "$root/tools/build-windows.sh" "$root/build-win"
  bash "$root/tests/windows/smoke.sh" "$root/build-win"
  # The end-to-end suites against pellamo.exe under wine, with the local CA
  # peer and the soft token's Linux side from the normal build.
  bash "$root/tests/windows/e2e.sh" "$root/build-win" "$root/build-test"
  echo "Windows stage took $(( $(date +%s) - PELLAMO_WINDOWS_STAGE_STARTED )) s"
else
  echo "== Windows stage skipped: no mingw-w64 toolchain (bash tools/setup.sh --windows) =="
fi

# Packages: the Debian package from the tested build (its distribution switch
# turned on for the package and off again: one file rebuilt) and the Windows
# installer from the Windows stage's build, each installed and tested; the
# Debian package is installed on this machine, so only as root (CI).
echo "== packages: the Debian package and the Windows installer =="
packaging_started="$(date +%s)"
PELLAMO_PACKAGE_BUILD_DIR="$root/build-test" PELLAMO_PACKAGE_REUSE_BUILD=1 bash "$root/tools/package.sh" --deb
deb="$(ls -t "$root"/dist/pellamo_*_amd64.deb | head -n 1)"
if [ "$(id -u)" = 0 ]; then
  bash "$root/tests/packaging/deb.sh" "$deb"
else
  echo "Debian package test skipped: it installs the package (run as root on a disposable machine)"
  lintian --fail-on error "$deb"
fi
if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && command -v makensis >/dev/null 2>&1; then
  PELLAMO_PACKAGE_WIN_BUILD_DIR="$root/build-win" PELLAMO_PACKAGE_REUSE_WIN_BUILD=1 bash "$root/tools/package.sh" --exe
  bash "$root/tests/windows/installer.sh" "$(ls -t "$root"/dist/pellamo-setup-*.exe | head -n 1)"
fi
echo "Packaging stage took $(( $(date +%s) - packaging_started )) s"
