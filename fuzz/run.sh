#!/usr/bin/env bash
# Runs each fuzz target for a while: `fuzz/run.sh BUILD_DIR SECONDS TARGET...`.
# Each starts from its seed corpus in fuzz/corpus/<target>/ and grows a working corpus in
# BUILD_DIR/fuzz-corpus/<target>/ (the repository's seeds stay as they are). A crash, leak,
# timeout or memory blow-up leaves its input in BUILD_DIR/fuzz-artifacts/<target>/ and fails the
# run; the table at the end gives each target's executions.
set -uo pipefail
build=$(cd "$1" && pwd)
seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
status=0
summary=()
for target in "$@"; do
    seeds="$here/corpus/$target"
    work="$build/fuzz-corpus/$target"
    artifacts="$build/fuzz-artifacts/$target/"
    log="$build/fuzz-logs/$target.log"
    mkdir -p "$seeds" "$work" "$artifacts" "$(dirname "$log")"
    echo "== $target: $seconds s"
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts" \
        "$work" "$seeds" >"$log" 2>&1
    rc=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
    if [ $rc -ne 0 ]; then
        status=1
        echo "   FAILED (exit $rc); input in $artifacts, log $log"
        grep -E 'ERROR|runtime error|property failed|SUMMARY' "$log" | head -5 | sed 's/^/   /'
        summary+=("$target: FAILED after ${runs:-?} executions")
    else
        summary+=("$target: ${runs:-?} executions, no finding")
    fi
done
echo "== fuzz summary ($seconds s each)"
printf '   %s\n' "${summary[@]}"
exit $status
