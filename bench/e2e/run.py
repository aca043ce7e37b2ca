#!/usr/bin/env python3
"""`make bench`: Roamnode end to end on loopback against bare C references and iperf3, one case
after another, on one endpoint that stays registered throughout. Prints one table and writes it
as JSON (OUT/results.json); the logs of every program are in OUT/logs, each run's scenario and
results in OUT/runs.

    bench/e2e/run.py [--build build/release] [--out build/bench] [--reps 3] [--cases 1,3,...]
"""

import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

import case_heartbeat
import case_idle
import case_pairs
import case_result_list
import case_tcp
import case_trigger_fed
import case_udp
from ports import free_ports
from processes import Processes
from references import References
from results import ResultsError
from roamnode import BenchError, Endpoint, Hub, status_of, wait_reply
from table import Row, render, summary, write_json

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# Fast heartbeats keep the hub's steps short; a high fail count keeps the endpoint registered
# in the moments between one hub and the next.
FAST = '{"command": "set", "heartbeatinterval": 100000000, "max-heartbeatfailcount": 1000}'
CASES = {
    1: ("stream → trigger and latency (1, 2)", case_udp.run),
    3: ("trigger fed by the C sender", case_trigger_fed.run),
    4: ("32 pairs", case_pairs.run),
    5: ("HTTP over TCP", case_tcp.run),
    7: ("result list", case_result_list.run),
    8: ("idle endpoint", case_idle.run),
}


class Bench:
    """What every case works with: the programs, the endpoint, the hub, the references."""

    def __init__(self, build_dir, out_dir, reps):
        self.build_dir = build_dir
        self.out_dir = out_dir
        self.reps = reps
        self.processes = Processes(os.path.join(out_dir, "logs"))
        self.hub = Hub(self.processes, self.binary("tools/hub/roamnode-hub"),
                       free_ports(1, socket.SOCK_STREAM)[0],
                       os.path.join(out_dir, "runs"))
        self.refs = References(self.processes, os.path.join(build_dir, "bench", "reference"))
        self.endpoint = None
        self.raw = {}
        self._started = time.monotonic()

    def binary(self, relative):
        return os.path.join(self.build_dir, relative)

    def say(self, text):
        print(f"[{time.monotonic() - self._started:5.0f} s] {text}", file=sys.stderr, flush=True)

    def keep(self, name, data):
        """Raw figures of a case, written beside the table."""
        self.raw[name] = data


def machine_facts():
    def read(path):
        try:
            with open(path, encoding="ascii") as f:
                return f.read().strip()
        except OSError:
            return None

    def command(*argv):
        try:
            return subprocess.run(argv, capture_output=True, text=True, timeout=10).stdout
        except (OSError, subprocess.TimeoutExpired):
            return ""

    model = next((line.split(":", 1)[1].strip() for line in command("lscpu").splitlines()
                  if line.startswith("Model name")), None)
    return {
        "cpu": model, "cores": os.cpu_count(), "kernel": os.uname().release,
        "net.core.rmem_max": read("/proc/sys/net/core/rmem_max"),
        "net.core.wmem_max": read("/proc/sys/net/core/wmem_max"),
        "iperf3": command("iperf3", "--version").split("\n")[0] or None,
        "commit": command("git", "-C", ROOT, "rev-parse", "--short", "HEAD").strip() or None,
        "date": time.strftime("%Y-%m-%d %H:%M:%S %z"),
        "loadavg_start": read("/proc/loadavg"),
    }


def check_binaries(bench):
    needed = ["src/app/roamnode", "tools/hub/roamnode-hub", "tools/httpd/roamnode-httpd",
              "bench/bench_scenario", "bench/reference/udp-mmsg-receiver",
              "bench/reference/udp-mmsg-sender", "bench/reference/udp-pacer"]
    missing = [n for n in needed if not os.access(bench.binary(n), os.X_OK)]
    if missing:
        sys.exit(f"bench: not built in {bench.build_dir}: {', '.join(missing)}")


def start_endpoint(bench, timings):
    """The endpoint, registered with a hub that sets its heartbeat to 100 ms. Returns that hub,
    still running: its exchanges are the ones case 6 measures."""
    hub = bench.hub.start_plain("hub-setup", [FAST], ["--timings"] if timings else [])
    bench.endpoint = Endpoint(bench.processes, bench.binary("src/app/roamnode"), bench.hub.port,
                              os.path.join(bench.out_dir, "endpoint"))
    reply = wait_reply(hub, 30)
    if status_of(reply.group(1)) != "success":
        raise BenchError("the endpoint refused the heartbeat settings: " + reply.group(1))
    return hub


def failed_row(number, title, error):
    return Row(number, title, "failed", "-", None, "", None, note=str(error))


def run_all(bench, wanted):
    rows = []
    if wanted - {7}:
        timings = bench.hub.supports("--timings")
        bench.say("starting the endpoint")
        setup_hub = start_endpoint(bench, timings)
        try:
            if 6 in wanted:
                rows += case_heartbeat.run(bench, setup_hub, timings)
        finally:
            bench.processes.stop(setup_hub)
    for number, (title, run) in CASES.items():
        if number not in wanted:
            continue
        try:
            if number != 7:
                bench.endpoint.check_alive()
            rows += run(bench)
        except (BenchError, ResultsError, OSError, KeyError, ValueError) as error:
            bench.say(f"case {number} ({title}) failed: {error}")
            rows.append(failed_row(number, title, error))
    return rows


def on_terminate(signo, frame):
    raise KeyboardInterrupt


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "bench"))
    parser.add_argument("--reps", type=int, default=3, help="repetitions of the cheap cases")
    parser.add_argument("--cases", default="1,3,4,5,6,7,8",
                        help="which cases (2 comes with 1)")
    args = parser.parse_args()
    wanted = {int(c) for c in args.cases.split(",") if c.strip()}
    if 2 in wanted:
        wanted.add(1)

    # Only what an earlier bench left there; the folder itself may hold other things.
    for sub in ("logs", "runs", "endpoint"):
        shutil.rmtree(os.path.join(args.out, sub), ignore_errors=True)
        os.makedirs(os.path.join(args.out, sub))
    for name in ("results.json", "httpd-stats.jsonl"):
        if os.path.exists(os.path.join(args.out, name)):
            os.remove(os.path.join(args.out, name))
    bench = Bench(os.path.abspath(args.build), os.path.abspath(args.out), max(1, args.reps))
    check_binaries(bench)
    machine = machine_facts()
    signal.signal(signal.SIGTERM, on_terminate)

    load = float(machine["loadavg_start"].split()[0])
    if load > os.cpu_count() / 2:
        print(f"bench: warning: the machine is busy (load average {load:.1f} on "
              f"{os.cpu_count()} cores); the figures will be noisy", file=sys.stderr)
    started = time.monotonic()
    rows, status = [], 0
    try:
        rows = run_all(bench, wanted)
    except KeyboardInterrupt:
        print("\nbench: interrupted; stopping what it started", file=sys.stderr)
        status = 130
    except (BenchError, ResultsError) as error:
        print(f"bench: {error}", file=sys.stderr)
        status = 1
    finally:
        bench.processes.stop_all()
    seconds = time.monotonic() - started
    machine["loadavg_end"] = open("/proc/loadavg", encoding="ascii").read().strip()

    if rows:
        print()
        print(render(rows))
        print()
        print(f"{summary(rows)}; {seconds:.0f} s on {machine['cpu']}, {machine['cores']} cores, "
              f"kernel {machine['kernel']}; load average at start {machine['loadavg_start']}")
        path = os.path.join(bench.out_dir, "results.json")
        write_json(path, rows, machine, seconds, bench.raw)
        print(f"table as JSON: {path}; logs: {os.path.join(bench.out_dir, 'logs')}")
    if any(row.roamnode == "failed" for row in rows) and status == 0:
        status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
