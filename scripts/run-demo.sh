#!/usr/bin/env bash
# Installs what Velloran needs, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target velloran
exec ./build/src/velloran "$@"
