#!/usr/bin/env python3
"""`make soak`: one endpoint runs the same mixed scenario many times over (IPv4 and IPv6 stream
into trigger, HTTP GET and PUT against roamnode-httpd, a network-information monitor). After
every run it checks that the result is whole and that the endpoint's descriptors, threads and
resident memory came back to where they were after the warm-up. Prints a before/after table and
writes it to OUT/soak.json; exits 1 when a run was incomplete or a figure did not come back.

    bench/e2e/soak.py [--build build/release] [--out build/soak] [--runs 200]
"""

import argparse
import json
import os
import signal
import socket
import sys
import time

from ports import free_ports
from processes import Processes
from results import ResultsError
from roamnode import BenchError, Endpoint, Hub, status_of, wait_reply
from scenarios import MS, SECOND, http, scenario, stream, trigger

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FAST = '{"command": "set", "heartbeatinterval": 100000000, "max-heartbeatfailcount": 1000}'
WARM_UP_RUNS = 5
FRAMES = 500
# What may stay above the warm-up level: the allocator keeps some freed memory, and a run's
# threads and sockets may take a moment to go after its end is reported.
RSS_SLACK_MB = 10
SETTLE_SECONDS = 3


def v6(flow):
    """The same flow over IPv6 on loopback."""
    flow = json.loads(json.dumps(flow))
    flow["flowtype"] = flow["flowtype"].replace("v4", "v6")
    content = flow["flow"]
    for key in ("dstipv4", "srcipv4"):
        if key in content:
            content[key.replace("v4", "v6")] = "::1"
            del content[key]
    return flow


def mixed_scenario(run_id, httpd_port):
    ports = free_ports(4)
    flows = [
        trigger(1, ports[0], ports[1]),
        stream(2, ports[0], ports[1], 1 * MS, FRAMES, 64, 100 * MS),
        v6(trigger(3, ports[2], ports[3])),
        v6(stream(4, ports[2], ports[3], 1 * MS, FRAMES, 64, 100 * MS)),
        http(5, "get", f"/soak{run_id}/get", httpd_port, 50 * MS, 500 * MS),
        http(6, "put", f"/soak{run_id}/put", httpd_port, 50 * MS, 500 * MS,
             rate_limit=2_000_000),
    ]
    description = scenario(run_id, SECOND, flows)
    description["monitors"] = [{"monitortype": "wifi", "id": 7,
                                "monitor": {"resultinterval": 100 * MS}}]
    return description


def http_bytes(stats_path, run_id):
    """Bytes the HTTP server moved for each of this run's two paths (the endpoint counts no
    bytes for HTTP flows; the server does)."""
    moved = {"get": 0, "put": 0}
    with open(stats_path, encoding="utf-8") as f:
        for line in f:
            record = json.loads(line)
            for name in moved:
                if record["target"].startswith(f"/soak{run_id}/{name}/"):
                    moved[name] += record["bytes"]
    return moved


def problems_of(results, moved):
    """What is missing or wrong in one run's results.json and the server's byte counts; empty
    when the run is whole."""
    endpoints = results.get("endpoints") or []
    if not endpoints or endpoints[0].get("status") != "done":
        return ["the endpoint did not finish"]
    runs = endpoints[0].get("resultlist") or []
    if len(runs) != 1:
        return [f"{len(runs)} results in the list instead of 1"]
    flows = {flow["id"]: flow for flow in runs[0].get("flows", [])}
    found = []
    for flow_id in range(1, 7):
        flow = flows.get(flow_id)
        if flow is None:
            found.append(f"flow {flow_id} missing")
        elif flow.get("status") != "success":
            found.append(f"flow {flow_id}: {flow.get('status')} {flow.get('errormsg')}")
    for flow_id in (1, 2, 3, 4):
        counted = sum((flows.get(flow_id) or {}).get("packetcountarray", []))
        if counted != FRAMES:
            found.append(f"flow {flow_id}: {counted} of {FRAMES} frames")
    for name, count in moved.items():
        if count <= 0:
            found.append(f"HTTP {name}: no bytes at the server")
    monitors = runs[0].get("monitors") or []
    if len(monitors) != 1 or not monitors[0].get("monitorresult"):
        found.append("monitor result missing or empty")
    return found


def figures(pid):
    """Open descriptors, threads and resident memory (MB) of the process."""
    descriptors = len(os.listdir(f"/proc/{pid}/fd"))
    threads, rss_kib = None, None
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        for line in f:
            if line.startswith("Threads:"):
                threads = int(line.split()[1])
            elif line.startswith("VmRSS:"):
                rss_kib = int(line.split()[1])
    return {"descriptors": descriptors, "threads": threads, "rss_mb": rss_kib * 1024 / 1e6}


def settled(pid, level):
    """The figures once descriptors and threads are back at `level` (waiting up to
    SETTLE_SECONDS for a run's last threads to go), or as they are when the wait runs out."""
    deadline = time.monotonic() + SETTLE_SECONDS
    while True:
        now = figures(pid)
        back = (now["descriptors"] <= level["descriptors"] and
                now["threads"] <= level["threads"])
        if back or time.monotonic() > deadline:
            return now, back
        time.sleep(0.05)


def start(processes, build, out_dir, stats_path):
    def binary(relative):
        return os.path.join(build, relative)

    # Both families: the GET and PUT go to 127.0.0.1, but the server listens as it would in use.
    server = processes.start("roamnode-httpd", [binary("tools/httpd/roamnode-httpd"), "--port",
                                                "0", "--stats", stats_path])
    match = server.wait_line(r"^listening on (\d+)", 10)
    if not match:
        raise BenchError("roamnode-httpd did not start")
    hub = Hub(processes, binary("tools/hub/roamnode-hub"), free_ports(1, socket.SOCK_STREAM)[0],
              os.path.join(out_dir, "runs"))
    setup = hub.start_plain("hub-setup", [FAST])
    endpoint = Endpoint(processes, binary("src/app/roamnode"), hub.port,
                        os.path.join(out_dir, "endpoint"))
    reply = wait_reply(setup, 30)
    processes.stop(setup)
    if status_of(reply.group(1)) != "success":
        raise BenchError("the endpoint refused the heartbeat settings: " + reply.group(1))
    return hub, endpoint, int(match.group(1))


def soak(processes, build, out_dir, runs):
    stats_path = os.path.join(out_dir, "httpd-stats.jsonl")
    if os.path.exists(stats_path):
        os.remove(stats_path)
    hub, endpoint, httpd_port = start(processes, build, out_dir, stats_path)
    level, rows, failures = None, [], []
    peak_rss = 0.0
    for run_id in range(1, runs + 1):
        endpoint.check_alive()
        results = hub.run(f"soak-{run_id}", mixed_scenario(run_id, httpd_port))
        problems = problems_of(results, http_bytes(stats_path, run_id))
        if level is None:
            now, back = figures(endpoint.pid), True
        else:
            now, back = settled(endpoint.pid, level)
        peak_rss = max(peak_rss, now["rss_mb"])
        if run_id == WARM_UP_RUNS:
            level = now
        elif level is not None:
            if not back:
                problems.append(f"descriptors {now['descriptors']} / threads {now['threads']} "
                                f"not back to {level['descriptors']} / {level['threads']}")
            if now["rss_mb"] > level["rss_mb"] + RSS_SLACK_MB:
                problems.append(f"RSS {now['rss_mb']:.1f} MB, {RSS_SLACK_MB} MB over "
                                f"{level['rss_mb']:.1f} MB")
        rows.append(dict(now, run=run_id, problems=problems))
        if problems:
            failures.append((run_id, problems))
        print(f"run {run_id:4d}: {now['descriptors']:3d} fds, {now['threads']:2d} threads, "
              f"{now['rss_mb']:6.1f} MB" + ("" if not problems else "  " + "; ".join(problems)),
              file=sys.stderr, flush=True)
        # The hub writes every run's folder; only the failed ones are worth keeping.
        if not problems:
            run_dir = os.path.join(out_dir, "runs", f"{hub._runs:02d}-soak-{run_id}")
            for name in os.listdir(run_dir):
                os.remove(os.path.join(run_dir, name))
            os.rmdir(run_dir)
    return level, rows, failures, peak_rss


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "soak"))
    parser.add_argument("--runs", type=int, default=200)
    args = parser.parse_args()
    if args.runs <= WARM_UP_RUNS:
        sys.exit(f"soak: --runs must be more than the {WARM_UP_RUNS} warm-up runs")
    out_dir = os.path.abspath(args.out)
    for sub in ("logs", "runs", "endpoint"):
        os.makedirs(os.path.join(out_dir, sub), exist_ok=True)
    processes = Processes(os.path.join(out_dir, "logs"))
    signal.signal(signal.SIGTERM, lambda signo, frame: (_ for _ in ()).throw(KeyboardInterrupt))
    started = time.monotonic()
    try:
        level, rows, failures, peak_rss = soak(processes, os.path.abspath(args.build), out_dir,
                                               args.runs)
    except (BenchError, ResultsError, OSError, KeyError, ValueError) as error:
        print(f"soak: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("\nsoak: interrupted", file=sys.stderr)
        return 130
    finally:
        processes.stop_all()
    last = rows[-1]
    minutes = (time.monotonic() - started) / 60
    print()
    print(f"| after | descriptors | threads | RSS |")
    print(f"|---|---|---|---|")
    print(f"| run {WARM_UP_RUNS} (warm-up) | {level['descriptors']} | {level['threads']} | "
          f"{level['rss_mb']:.1f} MB |")
    print(f"| run {last['run']} | {last['descriptors']} | {last['threads']} | "
          f"{last['rss_mb']:.1f} MB |")
    print(f"| highest after any run | {max(r['descriptors'] for r in rows)} | "
          f"{max(r['threads'] for r in rows)} | {peak_rss:.1f} MB |")
    print()
    print(f"{args.runs} runs in {minutes:.1f} min; {args.runs - len(failures)} whole, "
          f"{len(failures)} with problems")
    for run_id, problems in failures:
        print(f"  run {run_id}: {'; '.join(problems)}")
    with open(os.path.join(out_dir, "soak.json"), "w", encoding="utf-8") as f:
        json.dump({"runs": rows, "level": level, "minutes": minutes}, f, indent=1)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
