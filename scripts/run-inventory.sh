#!/usr/bin/env bash
# Installs what is missing, builds, and runs the inventory on this host.
# The executable is built in a folder of its own with every option stated,
# so this neither takes nor leaves a configuration that another script's
# build folder relies on (the test suite's above all).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=build-inventory
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAGO_TESTS=OFF -DZAGO_SANITIZE=OFF -DZAGO_FUZZ=OFF \
  >/dev/null
cmake --build "$build" -j"$(nproc)" --target nvmepcissd
"./$build/cm_NVM_ePCISSD/nvmepcissd" -i
echo
