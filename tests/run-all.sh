#!/usr/bin/env bash
# Builds and runs every test suite this machine can run, and says which it skips and why.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

echo "== Linux build and tests"
cmake --preset release >/dev/null
cmake --build --preset release -j"$jobs"
ctest --preset release -j"$jobs"

# The listing that POSIX systems other than Linux use (readdir and fstatat), built on Linux too so
# that it is tested somewhere; every test runs against it.
echo "== Linux build with the portable POSIX listing, and tests"
cmake --preset portable >/dev/null
cmake --build --preset portable -j"$jobs"
ctest --preset portable -j"$jobs"

# The Windows build: cross-compiled with mingw-w64 and run under wine64, in a wine prefix inside
# its build folder (made by the first run, kept for the next).
wine=/usr/lib/wine/wine64
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && [ -x "$wine" ]; then
  echo "== Windows build and tests (under wine)"
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j"$jobs"
  ctest --preset windows
  echo "== Windows build against the Linux build, end to end (under wine)"
  TREEMETER_WINDOWS_PROGRAM="$PWD/build/windows/Treemeter.exe" TREEMETER_WINE="$wine" \
    WINEPREFIX="$PWD/build/windows/wine" build/release/tests/windows/treemeter_windows_tests
else
  echo "== Windows build and tests SKIPPED: they need x86_64-w64-mingw32-g++-posix and $wine" \
    "(Debian packages g++-mingw-w64-x86-64-posix and wine64)"
fi

echo "== Sanitizer build (AddressSanitizer and UndefinedBehaviorSanitizer, no recovery) and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ctest --preset asan -j"$jobs"

# Every test, the scan and fault tests among them, with the program itself built under
# ThreadSanitizer: a data race between the threads that read folders fails the run.
echo "== ThreadSanitizer build and tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs"
ctest --preset tsan -j"$jobs"

# A fixed seed makes every run try the same inputs in the same order, so a finding reproduces;
# set TREEMETER_FUZZ_SEED=0 for a fresh seed each run when hunting at length.
echo "== Fuzz targets, ${TREEMETER_FUZZ_SECONDS:=20} seconds each, seed ${TREEMETER_FUZZ_SEED:=1}"
probe=$(mktemp -d)
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
  >"$probe/probe.cc"
if clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cc" -o "$probe/probe" 2>/dev/null; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j"$jobs"
  mkdir -p build/fuzz/artifacts
  for target in command_line paths report_texts output; do
    # New inputs go to the build folder; the seeds in the source tree are only read.
    mkdir -p "build/fuzz/corpus/$target"
    dictionary=()
    [ -f "tests/fuzz/$target.dict" ] && dictionary=(-dict="tests/fuzz/$target.dict")
    if ! "build/fuzz/tests/fuzz/${target}_fuzzer" -max_total_time="$TREEMETER_FUZZ_SECONDS" \
      -seed="$TREEMETER_FUZZ_SEED" "${dictionary[@]}" -artifact_prefix="build/fuzz/artifacts/$target-" \
      "build/fuzz/corpus/$target" "tests/fuzz/corpus/$target" >"build/fuzz/$target.log" 2>&1; then
      tail -n 40 "build/fuzz/$target.log"
      echo "fuzz target $target failed; the input is in build/fuzz/artifacts" >&2
      exit 1
    fi
    echo "$target: $(grep -E '^Done [0-9]+ runs' "build/fuzz/$target.log")"
  done
else
  echo "skipped: clang++ with libFuzzer's runtime is not available (Debian: clang libclang-rt-14-dev)"
fi
rm -rf "$probe"

echo "== valgrind memcheck on a small tree"
if command -v valgrind >/dev/null; then
  valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    build/release/treemeter no 0 0 0 src >/dev/null
  echo "valgrind: no errors"
else
  echo "skipped: valgrind is not installed"
fi
