#!/usr/bin/env bash
# Fixture cleanup: stops the demo servers and checks that their ports close.
set -uo pipefail
build=${1:?build dir}
env="$build/peers/run/demo.env"
ports=$([ -f "$env" ] && sed -n 's/^\(http\|https\|api_https\|api_http\)=//p' "$env")
"$(dirname "$0")/../../tools/demo-servers" stop --bin "$build" || exit 1
for p in $ports; do
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/"$p") 2>/dev/null || continue 2
    sleep 0.1
  done
  echo "FAIL: port $p still open after stop"
  exit 1
done
exit 0
