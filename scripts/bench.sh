#!/usr/bin/env bash
# Benchmark, not a test (CI does not run it): the shipped program against a
# minimal client doing the same admin commands, both unmodified under
# umockdev on the emulated controller of the tests. Prints ratios, not
# absolute times. Goal: flash time per piece within 5% of the minimal client.
#
#   bash scripts/bench.sh [--no-install] [repetitions]   (default 3; the fastest counts)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--no-install" ]; then shift; else bash scripts/install-deps.sh; fi
BUILD_DIR=${BUILD_DIR:-build}
repetitions=${1:-3}

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target zago_nvme_bench >/dev/null

echo "=== NVMe flash and inventory (emulated controller) ==="
"$BUILD_DIR/tests/bench/zago_nvme_bench" "$repetitions"

# Digests: once the rollback staging computes its own MD5 and SHA-256, time
# them here on one 256 MiB file against md5sum and sha256sum (coreutils) and
# print throughput ratios (goal: at least 0.8x coreutils).
bench_digests() {
  echo "=== digests ==="
  echo "no digest implementation in the tree yet"
}
bench_digests
