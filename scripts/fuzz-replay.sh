#!/usr/bin/env bash
# Replays every fuzz corpus (and its deterministic mutations) under clang's address and
# undefined-behaviour sanitizers: the native tests' replay, built in the fuzz build.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S tests/fuzz -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz -j 2 --target fuzz_replay
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build/fuzz/fuzz_replay --gtest_brief=1
