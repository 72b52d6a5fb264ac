#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, replays each target's committed corpus
# (fuzz/corpus/<target>/), then fuzzes each target for FUZZ_SECONDS seconds
# (default 20). A crash, a sanitizer report, a failed check or an input
# that runs longer than FUZZ_TIMEOUT seconds (default 10) fails the script;
# the input that did it is left in <build>/fuzz-run/.
#
#   bash scripts/fuzz.sh [--no-install] [target ...]
#
# New inputs found while fuzzing stay in <build>/fuzz-run/<target>/; copy the
# ones worth keeping into the corpus by hand (libFuzzer's -merge=1 picks a
# small set that keeps the coverage).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--no-install" ]; then shift; else bash scripts/install-deps.sh fuzz; fi

BUILD_DIR=${BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-20}
timeout=${FUZZ_TIMEOUT:-10}
cmake -S . -B "$BUILD_DIR" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZAGO_FUZZ=ON -DZAGO_TESTS=OFF -DZAGO_SANITIZE=OFF -DZAGO_WERROR="${ZAGO_WERROR:-OFF}" >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
cmake --build "$BUILD_DIR" -j"$(nproc)" --target "${targets[@]}"

run="$PWD/$BUILD_DIR/fuzz-run"
rm -rf "$run"
mkdir -p "$run/tmp"
# The targets work in scratch folders under TMPDIR; a crashing one leaves
# its folder here rather than in /tmp.
export TMPDIR="$run/tmp"
# A small quarantine keeps the rate up on small machines; leaks count.
export ASAN_OPTIONS="quarantine_size_mb=16:max_malloc_fill_size=0:detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
for name in "${targets[@]}"; do
  exe="$PWD/$BUILD_DIR/fuzz/$name"
  corpus="$PWD/fuzz/corpus/$name"
  log="$run/$name.log"
  mkdir -p "$run/$name"
  common=(-timeout="$timeout" -rss_limit_mb=2048 -artifact_prefix="$run/$name-" -print_final_stats=1)
  # Names the target's parser looks for, when the target has a dictionary.
  [ -f "fuzz/$name.dict" ] && common+=(-dict="$PWD/fuzz/$name.dict")

  printf '%-32s replay %3d inputs ... ' "$name" "$(find "$corpus" -type f | wc -l)"
  if ! "$exe" "${common[@]}" "$corpus"/* >"$log" 2>&1; then
    echo "FAILED"; tail -n 40 "$log"; failed+=("$name (corpus)"); continue
  fi
  printf 'ok; fuzz %ss ... ' "$seconds"
  if ! "$exe" "${common[@]}" -max_total_time="$seconds" "$run/$name" "$corpus" >>"$log" 2>&1; then
    echo "FAILED"; grep -E 'ERROR|SUMMARY|fuzz:|Test unit' "$log" | tail -n 10; tail -n 40 "$log"
    failed+=("$name"); continue
  fi
  echo "ok ($(grep -E '^stat::number_of_executed_units' "$log" | tail -n 1 | awk '{print $2}') runs)"
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
