#!/usr/bin/env python3
"""The endpoint against a hostile hub and a hostile log file. For each case a fresh endpoint
registers with a small hub written here, gets the hostile request (or starts on the hostile
pxlog.txt), and must then answer a normal "nop" within 2 s, stay under 100 MB of peak resident
memory, and stop within 2 s of SIGTERM. Prints one line per case and exits 1 when one missed.

    bench/e2e/hostile.py [--build build/release] [--out build/hostile]
"""

import argparse
import os
import signal
import socket
import sys
import time

from processes import Processes
from roamnode import BenchError, Endpoint

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ANSWER_SECONDS = 2.0
STOP_SECONDS = 2.0
PEAK_MB = 100.0
NOP = b'{"command": "nop"}'


def frame(payload):
    return b"%04d#" % len(payload) + payload


def million_members():
    return b'{"command": "get", ' + b", ".join(
        b'"v%d": 0' % i for i in range(1_000_000)) + b"}"


def sixteen_mib_array():
    head, tail = b'{"command": "get", "ignored": [0', b"]}"
    count = (16 * 1024 * 1024 - len(head) - len(tail) - 16) // 2
    return head + b",0" * count + tail


def read_frame(conn, timeout):
    """One frame's payload, or None when none came complete within `timeout` seconds."""
    conn.settimeout(timeout)
    data = b""
    try:
        while b"#" not in data:
            chunk = conn.recv(65536)
            if not chunk:
                return None
            data += chunk
        length, _, rest = data.partition(b"#")
        while len(rest) < int(length or b"0"):
            chunk = conn.recv(1 << 20)
            if not chunk:
                return None
            rest += chunk
        return rest
    except (socket.timeout, OSError, ValueError):
        return None


class HostileHub:
    """Accepts one exchange at a time: sends the next request of its list, then "nop"."""

    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]

    def exchange(self, request_frame, timeout):
        """One exchange; returns (reply payload or None, seconds from accept to the reply)."""
        self.listener.settimeout(timeout)
        conn, _ = self.listener.accept()
        with conn:
            started = time.monotonic()
            if read_frame(conn, timeout) is None:
                return None, time.monotonic() - started
            conn.sendall(request_frame)
            reply = read_frame(conn, timeout)
            return reply, time.monotonic() - started

    def close(self):
        self.listener.close()


def peak_mb(pid):
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024 / 1e6
    return 0.0


def run_case(processes, build, out_dir, name, request, log_bytes=None):
    work_dir = os.path.join(out_dir, name)
    os.makedirs(work_dir, exist_ok=True)
    log_path = os.path.join(work_dir, "pxlog.txt")
    if log_bytes is not None:
        with open(log_path, "wb") as f:
            f.write(log_bytes)
    elif os.path.exists(log_path):
        os.remove(log_path)
    hub = HostileHub()
    endpoint = Endpoint(processes, os.path.join(build, "src/app/roamnode"), hub.port, work_dir)
    problems = []
    try:
        # The first exchange may come only once the log is loaded: that is part of the case.
        if request is not None:
            reply, _ = hub.exchange(frame(NOP), 60)
            if reply is None:
                problems.append("no first exchange")
            hub.exchange(request, 60)
        sent = time.monotonic()
        reply, _ = hub.exchange(frame(NOP), 60)
        answered = time.monotonic() - sent
        if reply is None or b'"success"' not in reply:
            problems.append(f"nop answered {reply!r:.60}")
        if answered > ANSWER_SECONDS:
            problems.append(f"nop answered after {answered:.2f} s")
        peak = peak_mb(endpoint.pid)
        if peak > PEAK_MB:
            problems.append(f"peak RSS {peak:.0f} MB")
        stop_started = time.monotonic()
        endpoint.program.signal(signal.SIGTERM)
        status = endpoint.program.wait_exit(10)
        stopped = time.monotonic() - stop_started
        if status != 0:
            problems.append(f"exit status {status} after SIGTERM")
        if stopped > STOP_SECONDS:
            problems.append(f"stopped after {stopped:.2f} s")
    except (socket.timeout, OSError) as error:
        problems.append(f"hub: {error}")
        answered = peak = stopped = float("nan")
    finally:
        processes.stop(endpoint.program)
        hub.close()
    print(f"{name:22s} next nop {answered:5.2f} s  peak RSS {peak:6.1f} MB  "
          f"SIGTERM {stopped:4.2f} s  " + ("ok" if not problems else "; ".join(problems)),
          flush=True)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "hostile"))
    args = parser.parse_args()
    os.makedirs(os.path.join(args.out, "logs"), exist_ok=True)
    processes = Processes(os.path.join(args.out, "logs"))
    entry = b"4;1700000000000;" + b"x" * 200 + b";"
    cases = [
        ("1M members", frame(million_members()), None),
        ("16 MiB array", frame(sixteen_mib_array()), None),
        ('"0000#"', b"0000#", None),
        ('"abc#"', b"abc#", None),
        ("200 MiB pxlog.txt", None, entry * (200 * 1024 * 1024 // len(entry))),
        ("50 MB of ;", None, b";" * 50_000_000),
    ]
    failed = 0
    try:
        for name, request, log_bytes in cases:
            failed += bool(run_case(processes, os.path.abspath(args.build), args.out, name,
                                    request, log_bytes))
    except BenchError as error:
        print(f"hostile: {error}", file=sys.stderr)
        failed += 1
    finally:
        processes.stop_all()
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
