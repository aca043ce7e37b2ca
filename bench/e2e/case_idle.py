"""A registered endpoint at rest (case 8): CPU time and resident memory over 60 s while the hub
answers "nop" to a heartbeat every second."""

import os

from roamnode import BenchError, line_count, status_of, wait_reply
from scenarios import SECOND, scenario
from table import Row

SECONDS = 60
SLOW = '{"command": "set", "heartbeatinterval": 1000000000}'
CPU_GOAL = 0.5  # % of one core
RSS_GOAL_MB = 60


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat", encoding="ascii") as f:
        # Fields after the command name, which may hold blanks: utime and stime are 14 and 15.
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def memory_kib(pid, key):
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return None


def slow_heartbeat(bench):
    """Back to one heartbeat a second. A running heartbeat timer keeps its period until it is
    started again, which the end of a scenario does: hence the empty run after the "set"."""
    hub = bench.hub.start_plain("hub-slow", [SLOW])
    try:
        reply = wait_reply(hub, 30)
    finally:
        bench.processes.stop(hub)
    if status_of(reply.group(1)) != "success":
        raise BenchError("the endpoint refused the heartbeat interval: " + reply.group(1))
    bench.hub.run("restart-heartbeat", scenario(108, SECOND // 10, []))


def run(bench):
    slow_heartbeat(bench)
    hub = bench.hub.start_plain("hub-idle", [])
    try:
        # Registered, and one exchange at the new interval, before measuring.
        wait_reply(hub, 30)
        wait_reply(hub, 5, line_count(hub))
        bench.say(f"idle endpoint, {SECONDS} s")
        pid = bench.endpoint.pid
        cpu_before = cpu_seconds(pid)
        exchanges_before = line_count(hub)
        # A measuring window, cut short only if the endpoint goes away.
        if bench.endpoint.program.wait_exit(SECONDS) is not None:
            raise BenchError("the endpoint exited while idle")
        cpu = (cpu_seconds(pid) - cpu_before) / SECONDS * 100
        rss_mb = memory_kib(pid, "VmRSS") * 1024 / 1e6
        peak_mb = memory_kib(pid, "VmHWM") * 1024 / 1e6
        replies = sum(1 for line in hub.output()[exchanges_before:] if line.startswith("reply"))
    finally:
        bench.processes.stop(hub)
    values = {"cpu_percent": cpu, "rss_mb": rss_mb, "peak_rss_mb": peak_mb,
              "heartbeats": replies}
    bench.keep("idle", values)
    return [
        Row(8, f"idle CPU over {SECONDS} s (heartbeat 1/s)", f"{cpu:.2f} % of a core", "-", None,
            f"< {CPU_GOAL} %", cpu < CPU_GOAL, values, f"{replies} heartbeats in the window"),
        Row(8, "idle RSS", f"{rss_mb:.1f} MB", "-", None, f"< {RSS_GOAL_MB} MB",
            rss_mb < RSS_GOAL_MB, values, f"peak {peak_mb:.1f} MB over the whole bench"),
    ]
