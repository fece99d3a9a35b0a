#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while (default 60 s; FUZZ_SECONDS=…),
# one after another (FUZZ_TARGETS="list_file png" picks some). The seed corpus in
# tests/fuzz/corpus/ is copied, so findings never touch the repository; a crash leaves its
# input in build/fuzz/ and stops the script: copy it into the target's corpus as a regression.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
cmake -S tests/fuzz -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz -j 2
for target in ${FUZZ_TARGETS:-index_walk entry_reader archive_reader zstd_frames lzma2_stream ppmd_stream list_file options png foreign_reader sealed_reader}; do
  work=build/fuzz/corpus-$target
  mkdir -p "$work"
  cp -n tests/fuzz/corpus/$target/* "$work"/ 2>/dev/null || true
  build/fuzz/${target}_fuzz -max_total_time="$seconds" -max_len=4096 -artifact_prefix=build/fuzz/$target- \
    -print_final_stats=1 "$work"
done
