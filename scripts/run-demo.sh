#!/usr/bin/env bash
# Installs what Velloran needs, builds it and starts it headless on the demo configuration:
# slot "Tone" records the generator tone into hourly MP3 files, slot "Ramp" the generator ramp
# into 1-minute WAV files; the browser pages are served on port 5252 (see the README for the
# log-in). The demo runs in a root folder of its own (default ./demo-run, or
# VELLORAN_DEMO_ROOT); its recordings land in <root>/recordings/. Stop it with Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ "${VELLORAN_SKIP_INSTALL:-0}" != "1" ]]; then
  bash scripts/install-deps.sh
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLORAN_WERROR=ON
cmake --build build -j "$(nproc)" --target velloran

root="${VELLORAN_DEMO_ROOT:-$PWD/demo-run}"
mkdir -p "$root"
root="$(cd "$root" && pwd)"
if [[ ! -f "$root/Velloran.ini" ]]; then
  sed "s|@ROOT@|$root|g" examples/demo/Velloran.ini > "$root/Velloran.ini"
fi
echo "Velloran demo: root folder $root, recordings in $root/recordings/"
echo "Velloran demo: pages at http://localhost:5252/ (user admin, password velloran-demo)"
exec ./build/src/velloran -headless -rootfolder "$root" "$@"
