#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite. A run in
# which no test ran fails.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = "--no-install" ] || bash scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
jobs=$(nproc)
# Every option the suite depends on is stated, whatever configured the
# folder before; CMAKE_EXTRA comes last and wins (CI's sanitizer build).
# ZAGO_WERROR=ON (CI) turns warnings in the shipped code into errors.
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DZAGO_TESTS=ON -DZAGO_SANITIZE=OFF -DZAGO_FUZZ=OFF \
  -DZAGO_WERROR="${ZAGO_WERROR:-OFF}" ${CMAKE_EXTRA:-} >/dev/null
cmake --build "$BUILD_DIR" -j"$jobs"
cd "$BUILD_DIR"
ctest --output-on-failure -j"$jobs" --timeout 300 --no-tests=error
