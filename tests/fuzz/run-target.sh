#!/usr/bin/env bash
# run-target.sh BINARY SEEDS SECONDS WORK FINDINGS [fresh]
# Runs one fuzz target: first every seed in SEEDS, then fuzzing for SECONDS.
# New inputs go to WORK/corpus (emptied first with "fresh"), never into the
# checked-in seeds; an input that crashes, hangs or trips a sanitizer is kept
# in FINDINGS and the run fails naming it.
set -uo pipefail
bin=$1 seeds=$2 seconds=$3 work=$4 findings=$5 fresh=${6:-}
name=$(basename "$bin")

[ "$fresh" = fresh ] && rm -rf "$work"
mkdir -p "$work/corpus" "$findings"
log=$work/log
# -timeout: one input taking longer is a hang. The default memory limits stay:
# every reader must pass under them.
"$bin" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work/corpus" "$seeds" >"$log" 2>&1
status=$?

stat() { sed -n "s/^stat::$1: *//p" "$log" | tail -n 1; }
if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "$name: BŁĄD (kod $status), dziennik: $log"
    grep -h -o "Test unit written to .*" "$log" | sed "s/^Test unit written to /$name: dane wejściowe zachowane w /"
    exit 1
fi
echo "$name: bez błędów, $(stat number_of_executed_units) wykonań w ${seconds} s" \
     "($(stat average_exec_per_sec)/s, nowych w korpusie: $(ls "$work/corpus" | wc -l), szczyt RSS $(stat peak_rss_mb) MB)"
