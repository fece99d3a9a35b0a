#!/usr/bin/env bash
# Sets up, builds and runs every test: native ones directly, Windows ones under wine64 on a private display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
source scripts/wine-env.sh
trap wine_env_stop EXIT
wine_env_start
status=0
ctest --preset native -j "$(nproc)" || status=1
ctest --preset win64 || status=1
# The i686 packages: contents, and a silent install and uninstall under Wine.
tests/packages/run.sh build/win32 || status=1
if [ -d tests/e2e ] && [ -x tests/e2e/run.sh ]; then
  tests/e2e/run.sh || status=1
fi
exit $status
