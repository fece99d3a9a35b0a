#!/usr/bin/env bash
# Configures and builds the three builds: native, win64 (tested under Wine) and win32 (shipped).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${VANTOR_JOBS:-$(nproc)}
for preset in ${VANTOR_PRESETS:-native win64 win32}; do
  cmake --preset "$preset" -DVANTOR_WERROR=${VANTOR_WERROR:-OFF} >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
