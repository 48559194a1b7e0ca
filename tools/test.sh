#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test twice: once in
# a normal build and once under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc 2>/dev/null || echo 2)"
bash "$root/tools/setup.sh"

run_suite() {
  local dir="$1"; shift
  cmake -G Ninja -S "$root" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== normal build =="
run_suite "$root/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLAMO_BENCH=ON

echo "== sanitizer build (ASan + UBSan) =="
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DPELLAMO_SANITIZE=ON -DPELLAMO_BENCH=OFF

echo "== fuzzing: client card, transport header and registry answer readers (libFuzzer + ASan + UBSan, bounded) =="
fuzz_dir="$root/build-fuzz"
cmake -G Ninja -S "$root" -B "$fuzz_dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLAMO_FUZZ=ON -DPELLAMO_BENCH=OFF >/dev/null
cmake --build "$fuzz_dir" --target card_fuzz header_fuzz registry_fuzz -j "$jobs"
fuzz() {  # fuzz <target> <seed corpus name> <seconds>
  mkdir -p "$fuzz_dir/corpus/$2"
  if ! "$fuzz_dir/tests/$1" -max_total_time="$3" \
      "$fuzz_dir/corpus/$2" "$root/tests/fuzz/corpus/$2" >"$fuzz_dir/$1.log" 2>&1; then
    tail -n 60 "$fuzz_dir/$1.log"
    exit 1
  fi
  echo "$1: $(tail -n 1 "$fuzz_dir/$1.log")"
}
fuzz card_fuzz card "${PELLAMO_FUZZ_SECONDS:-30}"
fuzz header_fuzz header "${PELLAMO_FUZZ_SECONDS:-15}"
fuzz registry_fuzz registry "${PELLAMO_FUZZ_SECONDS:-15}"

# Windows: cross-build of pellamo.exe and upd_qn.dll and the smoke test under
# wine, when the Windows toolchain is installed (bash tools/setup.sh --windows,
# or PELLAMO_WINDOWS=1 as CI does). libcurl for Windows is cached in
# build-win/deps after the first run.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
  echo "== Windows: cross-build and smoke test under wine =="
  PELLAMO_WINDOWS_STAGE_STARTED="$(date +%s)"
  export PELLAMO_WINDOWS_STAGE_STARTED
  bash "$root/tools/build-windows.sh" "$root/build-win"
  bash "$root/tests/windows/smoke.sh" "$root/build-win"
else
  echo "== Windows stage skipped: no mingw-w64 toolchain (bash tools/setup.sh --windows) =="
fi
