#!/usr/bin/env bash
# Installs what is missing, builds, and runs the inventory on this host.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAGO_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target nvmepcissd
./build/cm_NVM_ePCISSD/nvmepcissd -i
echo
