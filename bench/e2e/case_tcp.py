"""HTTP over TCP against roamnode-httpd (case 5): GET and PUT without a limit against iperf3 -R
and iperf3, and PUT at 100 MB/s and 1 GB/s against the limit asked for. The endpoint keeps no
byte counts for HTTP flows, so the bytes and seconds are the server's (--stats)."""

import json
import os

import figures as fig
import results as res
from roamnode import BenchError
from scenarios import SECOND, http, scenario
from table import Row

SECONDS = 3
# name, method, rate limit in bytes per second
TRANSFERS = [("get", "get", None), ("put", "put", None), ("put-100m", "put", 100_000_000),
             ("put-1g", "put", 1_000_000_000)]
SLOT_S = SECONDS + 0.5


def server_rate(stats_path, prefix):
    """Bytes per second of the server's connections whose target starts with `prefix`."""
    total_bytes, total_seconds = 0, 0.0
    with open(stats_path, encoding="utf-8") as f:
        for line in f:
            record = json.loads(line)
            if record["target"].startswith(prefix):
                total_bytes += record["bytes"]
                total_seconds += record["seconds"]
    return total_bytes / total_seconds if total_seconds > 0 else None


def run_once(bench, rep, server_port, stats_path):
    flows = [http(i + 1, method, f"/bench{rep}/{name}", server_port,
                  int((0.2 + i * SLOT_S) * SECOND), SECONDS * SECOND, limit)
             for i, (name, method, limit) in enumerate(TRANSFERS)]
    duration = int((0.2 + len(TRANSFERS) * SLOT_S) * SECOND)
    by_id = res.flows(bench.hub.run("http", scenario(106, duration, flows)))
    out = {name: server_rate(stats_path, f"/bench{rep}/{name}/") for name, _, _ in TRANSFERS}
    out["error"] = res.failed_flows(by_id)
    put = bench.refs.iperf3([], SECONDS)["end"]["sum_received"]
    get = bench.refs.iperf3(["-R"], SECONDS)["end"]["sum_received"]
    out["iperf3"] = put["bytes"] / put["seconds"]
    out["iperf3_reverse"] = get["bytes"] / get["seconds"]
    return out


def run(bench):
    stats_path = os.path.join(bench.out_dir, "httpd-stats.jsonl")
    if os.path.exists(stats_path):
        os.remove(stats_path)
    server = bench.processes.start(
        "roamnode-httpd",
        [bench.binary("tools/httpd/roamnode-httpd"), "--port", 0, "--bind", "127.0.0.1",
         "--stats", stats_path])
    match = server.wait_line(r"^listening on (\d+)", 10)
    if not match:
        bench.processes.stop(server)
        raise BenchError("roamnode-httpd did not start")
    runs = []
    try:
        for rep in range(bench.reps):
            bench.say(f"HTTP GET/PUT and iperf3, run {rep + 1} of {bench.reps}")
            runs.append(run_once(bench, rep + 1, int(match.group(1)), stats_path))
    finally:
        bench.processes.stop(server)
    bench.keep("http", runs)

    def med(key):
        return fig.median([r.get(key) for r in runs])

    note = "; ".join(sorted({r["error"] for r in runs if r["error"]}))
    get, put, iperf_r, iperf = med("get"), med("put"), med("iperf3_reverse"), med("iperf3")
    get_ratio, put_ratio = fig.ratio(get, iperf_r), fig.ratio(put, iperf)
    rows = [
        Row(5, "HTTP GET, no limit", fig.mbytes(get), f"iperf3 -R {fig.mbytes(iperf_r)}",
            get_ratio, "≥ 1.0 × iperf3 -R", None if get_ratio is None else get_ratio >= 1.0,
            {"roamnode": get, "iperf3_reverse": iperf_r}, note),
        Row(5, "HTTP PUT, no limit", fig.mbytes(put), f"iperf3 {fig.mbytes(iperf)}",
            put_ratio, "≥ 0.9 × iperf3", None if put_ratio is None else put_ratio >= 0.9,
            {"roamnode": put, "iperf3": iperf}),
    ]
    for name, _, limit in TRANSFERS[2:]:
        achieved = med(name)
        ratio = fig.ratio(achieved, limit)
        rows.append(Row(5, f"HTTP PUT, ratelimit {limit:,} B/s", fig.mbytes(achieved),
                        f"asked {fig.mbytes(limit)}", ratio, "within 1 % of the limit",
                        None if ratio is None else abs(ratio - 1) <= 0.01,
                        {"roamnode": achieved, "limit": limit}))
    return rows
