#!/usr/bin/env bash
# What encryption costs: `vantor a` and `vantor x` of 100 MB (text and noise, 40 files) with and
# without a password, medians of ROUNDS rounds (5 unless set) taking turns, in seconds. The key
# derivation (Argon2id at the archive's default 128 MB and 3 passes) is timed on its own and taken
# out of the encrypted figures; the goal is at most 5 % more than the plain run.
# Usage: bench/encryption.sh [build folder (build/native)] [scratch folder]
set -euo pipefail
build=${1:-build/native}
vantor=$(realpath "$build/vantor")
scratch=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/vantor-crypt-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

python3 - "$scratch/tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(40)
words = [b"archive ", b"member ", b"sealed ", b"stream ", b"password ", b"key\n"]
os.makedirs(root)
for i in range(40):
    size = 100 * 1000 * 1000 // 40
    text = b"".join(rng.choice(words) for _ in range(size // 10))[: size * 2 // 3]
    open(os.path.join(root, "f%02d.bin" % i), "wb").write(text + rng.randbytes(size - len(text)))
PY

now() { date +%s.%N; }
rounds=${ROUNDS:-5}
median() { printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 1) / 2 ))p"; }
declare -A took
key_seconds=()
for round in $(seq "$rounds"); do
  # Who goes first alternates: the second run of a pair meets the first one's writes being flushed.
  order="plain sealed"; [ $((round % 2)) = 0 ] && order="sealed plain"
  for mode in $order; do
    rm -rf "$scratch/$mode.vnr" "$scratch/out-$mode"
    pw=()
    [ $mode = sealed ] && pw=(-pw:0)
    start=$(now)
    printf 'bench password' | VANTOR_KEY_TIMING=1 "$vantor" a -r "${pw[@]}" "$scratch/$mode.vnr" "$scratch/tree" \
      >/dev/null 2>"$scratch/err"
    end=$(now)
    derive=0
    if [ $mode = sealed ]; then
      derive=$(sed -n 's/.*key derived in \([0-9.]*\) s.*/\1/p' "$scratch/err")
      key_seconds+=("$derive")
    fi
    took[$mode-add]+=" $(echo "$end - $start - $derive" | bc -l)"
    start=$(now)
    printf 'bench password' | VANTOR_KEY_TIMING=1 "$vantor" x "${pw[@]}" "$scratch/$mode.vnr" "$scratch/out-$mode" \
      >/dev/null 2>"$scratch/err"
    end=$(now)
    [ $mode = plain ] || derive=$(sed -n 's/.*key derived in \([0-9.]*\) s.*/\1/p' "$scratch/err")
    took[$mode-extract]+=" $(echo "$end - $start - $derive" | bc -l)"
  done
done
key=$(median "${key_seconds[@]}")
printf 'key derivation (Argon2id, 128 MB, 3 passes): %.3f s\n' "$key"
for step in add extract; do
  plain=$(median ${took[plain-$step]})
  sealed=$(median ${took[sealed-$step]})
  printf '%-8s plain %.3f s  encrypted %.3f s (key derivation aside)  %+.1f %%\n' "$step" "$plain" "$sealed" \
    "$(echo "($sealed - $plain) * 100 / $plain" | bc -l)"
done
