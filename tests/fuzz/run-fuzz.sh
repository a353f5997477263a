#!/bin/sh
# Runs one libFuzzer target for a fixed time: run-fuzz.sh <binary> <corpus dir> <seconds> [<seeds dir>]
set -e
bin=$1 corpus=$2 seconds=$3 seeds=$4
mkdir -p "$corpus"
set -- "$corpus"
[ -n "$seeds" ] && [ -d "$seeds" ] && set -- "$corpus" "$seeds"
ASAN_OPTIONS=detect_leaks=0 exec "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 "$@"
