#!/usr/bin/env bash
# Builds and runs every test suite this machine can run, and says which it skips and why.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

echo "== Linux build and tests"
cmake --preset release >/dev/null
cmake --build --preset release -j"$jobs"
ctest --preset release -j"$jobs"

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
