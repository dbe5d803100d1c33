#!/usr/bin/env bash
# Builds and runs every test suite this machine can run, and says which it skips and why. Every
# suite runs even when one before it failed; the last line sums up the run, and the exit status is
# 1 when any suite failed.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

suites_passed=0
suites_failed=0
tests_passed=0
tests_failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# The tests a suite's output counts: ctest's summary line (the output of a failed test that ctest
# shows may hold GoogleTest's own), else GoogleTest's summary lines, else one line per fuzz target;
# a suite that prints none of them is one test.
count_tests() {
  local status=$1 line ctest=() gtest=(0 0) fuzz=(0 0)
  while IFS= read -r line; do
    if [[ $line =~ ^[0-9]+%\ tests\ passed,\ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
      ctest=($((BASH_REMATCH[2] - BASH_REMATCH[1])) "${BASH_REMATCH[1]}")
    elif [[ $line =~ ^\[\ \ PASSED\ \ \]\ ([0-9]+)\ tests? ]]; then
      gtest[0]=${BASH_REMATCH[1]}
    elif [[ $line =~ ^\[\ \ FAILED\ \ \]\ ([0-9]+)\ tests?, ]]; then
      gtest[1]=${BASH_REMATCH[1]}
    elif [[ $line =~ ^[a-z_]+:\ Done\ [0-9]+\ runs ]]; then
      fuzz[0]=$((fuzz[0] + 1))
    elif [[ $line =~ ^fuzz\ target\ [a-z_]+\ failed ]]; then
      fuzz[1]=$((fuzz[1] + 1))
    fi
  done <"$log"
  local counted=("${ctest[@]}")
  if ((${#counted[@]} == 0)); then counted=("${gtest[@]}"); fi
  if ((counted[0] + counted[1] == 0)); then counted=("${fuzz[@]}"); fi
  if ((counted[0] + counted[1] == 0)); then
    if ((status == 0)); then counted=(1 0); else counted=(0 1); fi
  fi
  tests_passed=$((tests_passed + counted[0]))
  tests_failed=$((tests_failed + counted[1]))
}

# Runs one suite: the commands of function $2, which stop at the first that fails, under the
# heading $1. Their output is shown as it comes and kept for counting.
run_suite() {
  echo "== $1"
  set +e
  (
    set -e
    "$2"
  ) 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  set -e
  count_tests "$status"
  if ((status == 0)); then
    ((suites_passed += 1))
  else
    ((suites_failed += 1))
    echo "== FAILED: $1 (status $status)"
  fi
}

linux_tests() {
  cmake --preset release >/dev/null
  cmake --build --preset release -j"$jobs"
  ctest --preset release -j"$jobs"
}
run_suite "Linux build and tests" linux_tests

# The listing that POSIX systems other than Linux use (readdir and fstatat), built on Linux too so
# that it is tested somewhere; every test runs against it.
portable_tests() {
  cmake --preset portable >/dev/null
  cmake --build --preset portable -j"$jobs"
  ctest --preset portable -j"$jobs"
}
run_suite "Linux build with the portable POSIX listing, and tests" portable_tests

# The Windows build: cross-compiled with mingw-w64 and run under wine64, in a wine prefix inside
# its build folder (made by the first run, kept for the next).
wine=/usr/lib/wine/wine64
windows_tests() {
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j"$jobs"
  ctest --preset windows
}
windows_against_linux() {
  TREEMETER_WINDOWS_PROGRAM="$PWD/build/windows/Treemeter.exe" TREEMETER_WINE="$wine" \
    WINEPREFIX="$PWD/build/windows/wine" build/release/tests/windows/treemeter_windows_tests
}
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && [ -x "$wine" ]; then
  run_suite "Windows build and tests (under wine)" windows_tests
  run_suite "Windows build against the Linux build, end to end (under wine)" windows_against_linux
else
  echo "== Windows build and tests SKIPPED: they need x86_64-w64-mingw32-g++-posix and $wine" \
    "(Debian packages g++-mingw-w64-x86-64-posix and wine64)"
fi

sanitizer_tests() {
  cmake --preset asan >/dev/null
  cmake --build --preset asan -j"$jobs"
  ctest --preset asan -j"$jobs"
}
run_suite "Sanitizer build (AddressSanitizer and UndefinedBehaviorSanitizer, no recovery) and tests" \
  sanitizer_tests

# Every test, the scan and fault tests among them, with the program itself built under
# ThreadSanitizer: a data race between the threads that read folders fails the run.
thread_sanitizer_tests() {
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan -j"$jobs"
  ctest --preset tsan -j"$jobs"
}
run_suite "ThreadSanitizer build and tests" thread_sanitizer_tests

# A fixed seed makes every run try the same inputs in the same order, so a finding reproduces;
# set TREEMETER_FUZZ_SEED=0 for a fresh seed each run when hunting at length.
: "${TREEMETER_FUZZ_SECONDS:=20}" "${TREEMETER_FUZZ_SEED:=1}"
fuzz_targets() {
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j"$jobs"
  mkdir -p build/fuzz/artifacts
  for target in command_line paths report_texts output ntfs_records; do
    # New inputs go to the build folder; the seeds in the source tree are only read.
    mkdir -p "build/fuzz/corpus/$target"
    dictionary=()
    [ -f "tests/fuzz/$target.dict" ] && dictionary=(-dict="tests/fuzz/$target.dict")
    if ! "build/fuzz/tests/fuzz/${target}_fuzzer" -max_total_time="$TREEMETER_FUZZ_SECONDS" \
      -seed="$TREEMETER_FUZZ_SEED" "${dictionary[@]}" -artifact_prefix="build/fuzz/artifacts/$target-" \
      "build/fuzz/corpus/$target" "tests/fuzz/corpus/$target" >"build/fuzz/$target.log" 2>&1; then
      tail -n 40 "build/fuzz/$target.log"
      echo "fuzz target $target failed; the input is in build/fuzz/artifacts"
      return 1
    fi
    echo "$target: $(grep -E '^Done [0-9]+ runs' "build/fuzz/$target.log")"
  done
}
probe=$(mktemp -d)
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
  >"$probe/probe.cc"
if clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cc" -o "$probe/probe" 2>/dev/null; then
  run_suite "Fuzz targets, $TREEMETER_FUZZ_SECONDS seconds each, seed $TREEMETER_FUZZ_SEED" \
    fuzz_targets
else
  echo "== Fuzz targets"
  echo "skipped: clang++ with libFuzzer's runtime is not available (Debian: clang libclang-rt-14-dev)"
fi
rm -rf "$probe"

memcheck() {
  valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    build/release/treemeter no 0 0 0 src >/dev/null
  echo "valgrind: no errors"
}
if command -v valgrind >/dev/null; then
  run_suite "valgrind memcheck on a small tree" memcheck
else
  echo "== valgrind memcheck on a small tree"
  echo "skipped: valgrind is not installed"
fi

echo "suites: $suites_passed passed, $suites_failed failed;" \
  "tests: $tests_passed passed, $tests_failed failed"
((suites_failed == 0))
