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

# The benchmark's driver is built with the tests; timings of a sanitizer or
# fuzzing build would mean nothing.
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DZAGO_TESTS=ON -DZAGO_SANITIZE=OFF -DZAGO_FUZZ=OFF >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target zago_nvme_bench >/dev/null

echo "=== NVMe flash and inventory (emulated controller) ==="
"$BUILD_DIR/tests/bench/zago_nvme_bench" "$repetitions"

# Digests: the tool's own MD5 and SHA-256 against md5sum and sha256sum
# (coreutils) on one 256 MiB file; throughput ratio ours/coreutils, fastest
# of the repetitions (goal: at least 0.8x).
cmake --build "$BUILD_DIR" -j"$(nproc)" --target digest_tool >/dev/null
bench_digests() {
  echo "=== digests (256 MiB file) ==="
  local scratch file
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' RETURN
  file="$scratch/data"
  head -c $((256 * 1024 * 1024)) /dev/urandom >"$file"
  fastest() {  # fastest wall-clock seconds of "$@" over the repetitions
    local best="" t
    for _ in $(seq "$repetitions"); do
      t=$( { /usr/bin/time -f %e "$@" >/dev/null; } 2>&1 | tail -n1 )
      if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
    done
    echo "$best"
  }
  local ours theirs
  for algo in md5 sha256; do
    ours=$(fastest "$BUILD_DIR/tests/bench/digest_tool" "$algo" "$file")
    theirs=$(fastest "${algo}sum" "$file")
    awk -v a="$algo" -v o="$ours" -v t="$theirs" \
      'BEGIN{ if (o <= 0) o = 0.01; printf "%-7s throughput ratio (ours/coreutils): %.2f\n", a, t / o }'
  done
}
bench_digests
