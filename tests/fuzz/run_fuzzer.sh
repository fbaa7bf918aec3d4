#!/usr/bin/env bash
# run_fuzzer.sh FUZZER SEEDS CORPUS SECONDS: fuzzes for SECONDS from the
# checked-in seeds plus the corpus kept in the build tree, and prints the
# executions done. A crash leaves its input in CORPUS/../crash-* and fails.
set -uo pipefail
fuzzer=$1 seeds=$2 corpus=$3 seconds=$4
mkdir -p "$corpus"
dirs=("$corpus")
[ -d "$seeds" ] && dirs+=("$seeds")
out=$(mktemp)
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix="$(dirname "$corpus")/crash-$(basename "$corpus")-" -print_final_stats=1 \
  "${dirs[@]}" >"$out" 2>&1
rc=$?
grep -E '^stat::number_of_executed_units|^Done|ERROR|SUMMARY' "$out"
[ $rc -eq 0 ] || tail -60 "$out"
rm -f "$out"
exit $rc
