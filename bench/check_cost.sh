#!/usr/bin/env bash
# What the block check costs: `resicrypt-cli unpack` of one file, and the codec's
# DecodeBlocks alone (engine_bench), built from this tree and from the code
# before it (a revision: by default the last commit of main that this branch
# holds), for every codec level this processor has.
#   bench/check_cost.sh [REV] [SIZE_MIB] [ROUNDS]     default: merge base, 256 MiB, 7
# Each round times the two unpacks of each level in turn (which one first
# alternates); the ratio checked/before is taken within each round and its
# median over the rounds is the figure (this machine drifts between rounds).
# The codec figures are the medians of engine_bench's repetitions, the two
# programs run in turn. Exits 1 when an unpack's median ratio is above 1.05.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"
cd "$ROOT"
ensure_packages bc

rev=${1:-$(git merge-base HEAD main)}
size_mib=${2:-256}
rounds=${3:-7}
work=$(mktemp -d "${TMPDIR:-/tmp}/resicrypt-check-cost.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The code before: the revision's files, under build/ (where a compiler cache
# that knows the tree finds them), and this tree, each built apart.
log "building $rev and this tree"
before="$ROOT/build/check-cost-before"
rm -rf "$before" && mkdir -p "$before"
git archive "$rev" | tar -x -C "$before"
for tree in "$before" "$ROOT"; do
  build="$tree/build/check-cost"
  cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRESICRYPT_BUILD_TESTS=OFF \
    -DRESICRYPT_BUILD_BENCH=ON >/dev/null
  cmake --build "$build" -j "$(jobs_count)" --target resicrypt-cli engine_bench >/dev/null
done
before_cli="$before/build/check-cost/cli/resicrypt-cli"
after_cli="$ROOT/build/check-cost/cli/resicrypt-cli"
before_bench="$before/build/check-cost/bench/engine_bench"
after_bench="$ROOT/build/check-cost/bench/engine_bench"

levels=()
for level in portable avx2 avx512; do
  refusal=$(RESICRYPT_CODEC=$level "$after_cli" --help 2>&1 >/dev/null || true)
  if [[ $refusal != *RESICRYPT_CODEC* ]]; then levels+=("$level"); fi
done

cd "$work"
head -c $((size_mib << 20)) /dev/urandom > source.bin
printf 'abcdefghijklmnopqrstuvw\n' > pw23  # 23 bytes
printf 'k3y\n' > pw3                       # 3 bytes
"$after_cli" pack --password-file pw23 -o c23.yal source.bin
"$after_cli" pack --password-file pw3 -o c3.yal source.bin

# SECONDS of one unpack into a new folder, after a sync.
timed_unpack() {  # timed_unpack CLI LEVEL CONTAINER PWFILE
  local t0 t1
  rm -rf out && mkdir out
  cat "$3" > /dev/null
  sync
  t0=$(date +%s.%N)
  RESICRYPT_CODEC=$2 "$1" unpack --password-file "$4" -C out "$3"
  t1=$(date +%s.%N)
  cmp -s source.bin out/source.bin || { echo "unpacked file differs ($1, $2)" >&2; exit 1; }
  echo "$t1 - $t0" | bc -l
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

status=0
echo "unpack of $size_mib MiB, checked / before, median of $rounds rounds (seconds: medians)"
for key in 23 3; do
  for level in "${levels[@]}"; do
    ratios=() befores=() afters=()
    for r in $(seq 1 "$rounds"); do
      if (( r % 2 )); then
        b=$(timed_unpack "$before_cli" "$level" "c$key.yal" "pw$key")
        a=$(timed_unpack "$after_cli" "$level" "c$key.yal" "pw$key")
      else
        a=$(timed_unpack "$after_cli" "$level" "c$key.yal" "pw$key")
        b=$(timed_unpack "$before_cli" "$level" "c$key.yal" "pw$key")
      fi
      befores+=("$b") afters+=("$a") ratios+=("$(echo "$a / $b" | bc -l)")
    done
    ratio=$(printf '%s\n' "${ratios[@]}" | median)
    printf '  %2d-byte password, %-8s before %.3f  checked %.3f  ratio %.3f\n' "$key" "$level" \
      "$(printf '%s\n' "${befores[@]}" | median)" "$(printf '%s\n' "${afters[@]}" | median)" "$ratio"
    if (( $(echo "$ratio > 1.05" | bc -l) )); then status=1; fi
  done
done

echo "DecodeBlocks, 64 KiB batches: MB/s before -> checked (median of 9 repetitions)"
codec_rate() {  # codec_rate BENCH FILTER: the median's bytes per second, in MB/s
  "$1" --benchmark_filter="$2" --benchmark_repetitions=9 --benchmark_report_aggregates_only=true \
    --benchmark_format=json 2>/dev/null |
    python3 -c 'import json, sys
for b in json.load(sys.stdin)["benchmarks"]:
    if b.get("aggregate_name") == "median": print(round(b["bytes_per_second"] / 1e6))'
}
declare -A kernel_number=([portable]=0 [avx2]=1 [avx512]=2)
for key in 3 17 23; do
  for level in "${levels[@]}"; do
    filter="^BM_CodecDecodeBlocks/$key/${kernel_number[$level]}/0\$"
    b=$(codec_rate "$before_bench" "$filter")
    a=$(codec_rate "$after_bench" "$filter")
    printf '  L = %2d, %-8s %6s -> %6s\n' "$key" "$level" "$b" "$a"
  done
done
exit $status
