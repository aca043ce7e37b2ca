"""Serialising a long run's result list (case 7): 100 flows × 3,600 one-second entries with
latency, timed by the scenario micro-benchmark."""

import json
import subprocess

import figures as fig
from roamnode import BenchError
from table import Row

BENCHMARK = "BM_ResultListJsonHour"
GOAL_MS = 300


def run(bench):
    bench.say("result list of 100 flows × 3,600 s")
    binary = bench.binary("bench/bench_scenario")
    try:
        done = subprocess.run([binary, f"--benchmark_filter={BENCHMARK}$",
                               "--benchmark_format=json"], capture_output=True, text=True,
                              timeout=120)
    except subprocess.TimeoutExpired:
        raise BenchError(f"{BENCHMARK} did not finish within 120 s") from None
    if done.returncode != 0:
        raise BenchError(f"bench_scenario failed: {done.stderr.strip()[-300:]}")
    report = json.loads(done.stdout)
    runs = [b for b in report["benchmarks"] if b["name"].startswith(BENCHMARK)]
    if not runs:
        raise BenchError(f"bench_scenario has no {BENCHMARK}")
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[runs[0]["time_unit"]]
    ms = runs[0]["real_time"] * scale
    size = runs[0].get("text_bytes")
    bench.keep("result_list", runs[0])
    return [Row(7, "result list 100 flows × 3,600 s to JSON", f"{ms:.0f} ms", "-", None,
                f"< {GOAL_MS} ms", ms < GOAL_MS, {"ms": ms, "text_bytes": size},
                f"{size / 1e6:.0f} MB of text" if size else "")]
