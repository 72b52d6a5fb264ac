#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite. A run in
# which no test ran fails, and so does one that changed what stands at the
# machine's mount-folder names (/tmp/SECUPD, /tmp/TESnnn).
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

# The tests make, remove and follow the mount folders only in private
# namespaces: the machine's names (another user's, say) stay as they were.
mount_folder_names() {
  find /tmp -mindepth 1 -maxdepth 1 \( -name SECUPD -o -name 'TES[0-9][0-9][0-9]' \) -printf '%p %y %u %i %l\n' | sort
}
before=$(mount_folder_names)
status=0
(cd "$BUILD_DIR" && ctest --output-on-failure -j"$jobs" --timeout 300 --no-tests=error) || status=$?
after=$(mount_folder_names)
if [ "$before" != "$after" ]; then
  echo "The suite changed the machine's mount-folder names in /tmp:" >&2
  diff <(printf '%s\n' "$before") <(printf '%s\n' "$after") >&2 || true
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
