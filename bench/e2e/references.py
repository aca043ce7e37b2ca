"""The yardsticks: the C references built from bench/reference and iperf3."""

import json
import os
import shutil
import signal
import socket

import figures as fig
from ports import free_ports, wait_bound
from roamnode import BenchError


def last_json(program, what):
    for line in reversed(program.output()):
        if line.startswith("{"):
            try:
                return json.loads(line)
            except ValueError:
                break
    raise BenchError(f"{what}: no result line (see logs/{program.name}.log)")


class References:
    def __init__(self, processes, bin_dir):
        self.processes = processes
        self.receiver_bin = os.path.join(bin_dir, "udp-mmsg-receiver")
        self.sender_bin = os.path.join(bin_dir, "udp-mmsg-sender")
        self.pacer_bin = os.path.join(bin_dir, "udp-pacer")
        self.iperf3_bin = shutil.which("iperf3")

    def start_receiver(self, gaps, tag=True, max_seconds=60):
        """A receiver on one system-picked port per entry of `gaps` (the sender's inter-frame
        gap in ns, 0 for none). Returns the program and its ports, in the order of `gaps`."""
        argv = [self.receiver_bin, "--max-seconds", max_seconds]
        for gap in gaps:
            argv += ["--port", f"0:{gap}"]
        if tag:
            argv.append("--tag")
        program = self.processes.start("udp-mmsg-receiver", argv)
        program.steal_at_start = fig.steal_ms()
        match = program.wait_line(r"^listening on ([\d ]+)$", 10)
        if not match:
            self.processes.stop(program)
            raise BenchError("udp-mmsg-receiver did not start")
        return program, [int(p) for p in match.group(1).split()]

    def finish_receiver(self, program):
        """Stops the receiver (it takes what is already queued first) and returns its report."""
        program.signal(signal.SIGTERM)
        if program.wait_exit(30) is None:
            self.processes.stop(program)
            raise BenchError("udp-mmsg-receiver did not report within 30 s")
        self.processes.stop(program)
        report = last_json(program, "udp-mmsg-receiver")
        # Lateness is only comparable between runs the hypervisor left alone.
        report["steal_ms"] = fig.steal_ms() - program.steal_at_start
        return report

    def _run(self, name, argv, seconds, whole_output=False):
        """Runs a program to its end (bounded) and returns its JSON report: the last line, or
        the whole output for iperf3."""
        program = self.processes.start(name, argv)
        status = program.wait_exit(seconds)
        self.processes.stop(program)
        if whole_output:
            try:
                return json.loads("\n".join(program.output()))
            except ValueError:
                raise BenchError(f"{name} ended with status {status} and no report "
                                 f"(see logs/{program.name}.log)") from None
        if status != 0:
            raise BenchError(f"{name} ended with status {status} (see logs/{program.name}.log)")
        return last_json(program, name)

    def pace(self, ports, rate, count, size, tag=True):
        argv = [self.pacer_bin, "--rate", rate, "--count", count, "--size", size]
        for port in ports:
            argv += ["--port", port]
        if tag:
            argv.append("--tag")
        return self._run("udp-pacer", argv, count / rate + 30)

    def blast(self, port, size, duration_ms=None, count=None, rate=None, src_port=None, tag=False):
        argv = [self.sender_bin, "--port", port, "--size", size]
        for option, value in (("--duration-ms", duration_ms), ("--count", count),
                              ("--rate", rate), ("--src-port", src_port)):
            if value is not None:
                argv += [option, value]
        if tag:
            argv.append("--tag")
        return self._run("udp-mmsg-sender", argv, 90)

    def paced_into_receiver(self, rate, count, size, ports=1):
        """The C pacer into the C receiver: the receiver's report, "all" over `ports` ports."""
        receiver, bound = self.start_receiver([int(1e9 / rate)] * ports)
        try:
            sent = self.pace(bound, rate, count, size)
        finally:
            report = self.finish_receiver(receiver)
        report["sent"] = sent["sent"]
        report["pacer_late"] = sent["late"]
        return report

    def blast_into_receiver(self, size, duration_ms):
        """The sendmmsg sender as fast as it goes into the C receiver."""
        receiver, bound = self.start_receiver([0], tag=False)
        try:
            sent = self.blast(bound[0], size, duration_ms=duration_ms)
        finally:
            report = self.finish_receiver(receiver)
        sent["received"] = report["all"]["frames"]
        return sent

    def iperf3(self, client_args, seconds):
        """One iperf3 test against a fresh one-off server; the client's JSON report."""
        if not self.iperf3_bin:
            raise BenchError("iperf3 is not installed (make deps installs it)")
        port = free_ports(1, socket.SOCK_STREAM)[0]
        server = self.processes.start("iperf3-server",
                                      [self.iperf3_bin, "-s", "-1", "-B", "127.0.0.1", "-p", port])
        try:
            if not wait_bound(port, 10, tcp=True):
                raise BenchError("iperf3 server did not listen")
            report = self._run("iperf3", [self.iperf3_bin, "-c", "127.0.0.1", "-p", port,
                                          "-t", seconds, "-J", *client_args], seconds + 30,
                                whole_output=True)
        finally:
            self.processes.stop(server)
        if "error" in report:
            raise BenchError("iperf3: " + report["error"])
        return report
