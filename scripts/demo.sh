#!/usr/bin/env bash
# `make demo`: one loopback run of examples/scenarios/demo.json. Starts roamnode-httpd, the hub's
# `run` command and one headless endpoint, waits for the hub (bounded), prints the summary and the
# report's path, and stops everything it started, also when interrupted.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
out="$build/demo"
hub_bin="$build/tools/hub/roamnode-hub"
httpd_bin="$build/tools/httpd/roamnode-httpd"
endpoint_bin="$build/src/app/roamnode"
scenario="$root/examples/scenarios/demo.json"
limit=${DEMO_TIMEOUT:-90}

for binary in "$hub_bin" "$httpd_bin" "$endpoint_bin"; do
    [ -x "$binary" ] || { echo "demo: $binary is missing; run 'make build' first" >&2; exit 1; }
done

rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d "$out/endpoint.XXXXXX")

# Each background job gets its own process group, so stopping one stops its children too.
set -m
pids=()
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    for pid in "${pids[@]}"; do
        kill -TERM -- "-$pid" 2>/dev/null || true
    done
    # Bounded wait for them to go, then make sure.
    for _ in $(seq 50); do
        local alive=0
        for pid in "${pids[@]}"; do
            kill -0 "$pid" 2>/dev/null && alive=1
        done
        [ $alive -eq 0 ] && break
        sleep 0.1
    done
    for pid in "${pids[@]}"; do
        kill -KILL -- "-$pid" 2>/dev/null || true
    done
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Waits until FILE has a line matching PATTERN, at most SECONDS; prints that line.
wait_for_line() {
    local file=$1 pattern=$2 seconds=$3 pid=$4
    for _ in $(seq $((seconds * 10))); do
        if grep -m1 -E "$pattern" "$file" 2>/dev/null; then
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -m1 -E "$pattern" "$file" 2>/dev/null
}

stats_args=()
httpd_args=(--port 0 --bind 127.0.0.1)
httpd_help=$("$httpd_bin" --help 2>&1 || true)
if [[ $httpd_help == *--stats* ]]; then
    httpd_args+=(--stats "$out/httpd-stats.jsonl")
    stats_args=(--httpd-stats "$out/httpd-stats.jsonl")
fi
"$httpd_bin" "${httpd_args[@]}" >"$out/httpd.log" 2>&1 &
pids+=($!)
httpd_line=$(wait_for_line "$out/httpd.log" '^listening on [0-9]+' 10 "${pids[-1]}") || {
    echo "demo: roamnode-httpd did not start:" >&2; cat "$out/httpd.log" >&2; exit 1; }
httpd_port=${httpd_line##* }
echo "HTTP server on 127.0.0.1:$httpd_port"

"$hub_bin" run "$scenario" --port 0 --bind 127.0.0.1 --rewrite-port "8080=$httpd_port" \
    "${stats_args[@]}" --out "$out" --start-in 2 >"$out/hub.log" &
hub_pid=$!
pids+=($hub_pid)
hub_line=$(wait_for_line "$out/hub.log" '^listening on ' 10 "$hub_pid") || {
    echo "demo: the hub did not start" >&2; cat "$out/hub.log" >&2; exit 1; }
hub_port=${hub_line##*:}
echo "hub on 127.0.0.1:$hub_port"

# The endpoint keeps its device id and log in HOME and its working folder: both are scratch.
(
    cd "$work"
    export HOME="$work" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
    export QT_QPA_PLATFORM=offscreen
    exec "$endpoint_bin" "127.0.0.1:$hub_port" >"$out/endpoint.log" 2>&1
) &
pids+=($!)
echo "endpoint started (log: $out/endpoint.log)"

hub_status=
for _ in $(seq $((limit * 10))); do
    if ! kill -0 "$hub_pid" 2>/dev/null; then
        set +e
        wait "$hub_pid"
        hub_status=$?
        set -e
        break
    fi
    sleep 0.1
done
echo
if [ -z "$hub_status" ]; then
    echo "demo: the run did not end within $limit s" >&2
    cat "$out/hub.log" >&2
    exit 1
fi
# The hub's own "report:" line would say the path a second time.
grep -v '^report: ' "$out/hub.log" || true
if [ "$hub_status" -ne 0 ]; then
    echo "demo: the hub ended with status $hub_status (endpoint log: $out/endpoint.log)" >&2
    exit "$hub_status"
fi
echo "Report: $out/report.html"
