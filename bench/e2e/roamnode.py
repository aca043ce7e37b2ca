"""The three Roamnode programs as the bench drives them: one endpoint for the whole bench, and
a hub per step on one fixed port, so the endpoint stays registered from one step to the next."""

import json
import os
import re
import subprocess


class BenchError(Exception):
    """A step could not be measured (a program did not start, a run did not finish)."""


# The endpoint learns the hub's address once, so every hub of the bench uses this port; the
# endpoint keeps trying it between two hubs.
class Endpoint:
    def __init__(self, processes, binary, hub_port, work_dir):
        os.makedirs(work_dir, exist_ok=True)
        env = dict(os.environ)
        # Device id and event log go to scratch folders, not to the user's home.
        env.update(HOME=work_dir, XDG_DATA_HOME=os.path.join(work_dir, "data"),
                   XDG_CONFIG_HOME=os.path.join(work_dir, "config"), QT_QPA_PLATFORM="offscreen")
        self.program = processes.start(
            "roamnode", [binary, f"127.0.0.1:{hub_port}"], cwd=work_dir, env=env)

    @property
    def pid(self):
        return self.program.pid

    def check_alive(self):
        if not self.program.running():
            raise BenchError("the endpoint has exited (see logs/roamnode-1.log)")


class Hub:
    def __init__(self, processes, binary, port, runs_dir):
        self.processes = processes
        self.binary = binary
        self.port = port
        self.runs_dir = runs_dir
        self._runs = 0

    def supports(self, option):
        """Whether the plain hub's usage text names `option`."""
        usage = subprocess.run([self.binary, "--help"], capture_output=True, text=True,
                               timeout=10)
        return option in usage.stdout + usage.stderr

    def start_plain(self, name, requests, extra=()):
        """The hub without "run": hands out `requests`, then "nop", one line per exchange."""
        program = self.processes.start(
            name, [self.binary, "--port", self.port, "--bind", "127.0.0.1", *extra, *requests])
        if not program.wait_line(r"^listening on ", 10):
            self.processes.stop(program)
            raise BenchError(f"{name}: the hub did not start on port {self.port}")
        return program

    def start_run(self, name, scenario):
        """Starts `roamnode-hub run` on the scenario (a dict); returns a handle for finish_run.
        The run starts about a second after the endpoint's next heartbeat."""
        self._runs += 1
        run_dir = os.path.join(self.runs_dir, f"{self._runs:02d}-{name}")
        os.makedirs(run_dir, exist_ok=True)
        path = os.path.join(run_dir, "scenario.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(scenario, f, indent=1)
        program = self.processes.start(
            "hub-" + name,
            [self.binary, "run", path, "--port", self.port, "--bind", "127.0.0.1", "--out",
             run_dir, "--start-in", "1", "--clock-samples", "1", "--register-timeout", "20"])
        if not program.wait_line(r"^listening on ", 10):
            self.processes.stop(program)
            raise BenchError(f"hub run {name}: the hub did not start on port {self.port}")
        return program, run_dir, scenario["duration"] / 1e9

    def finish_run(self, handle):
        """Waits (bounded by the scenario's length plus registration and collection) for the
        hub to collect the results; returns results.json as a dict."""
        program, run_dir, seconds = handle
        status = program.wait_exit(seconds + 40)
        if status is None:
            self.processes.stop(program)
            raise BenchError(f"hub run in {run_dir} did not finish within {seconds + 40:.0f} s")
        self.processes.stop(program)
        path = os.path.join(run_dir, "results.json")
        if not os.path.exists(path):
            tail = " | ".join(program.output()[-3:])
            raise BenchError(f"hub run in {run_dir} ended with status {status} and no results: "
                             f"{tail}")
        with open(path, encoding="utf-8") as f:
            return json.load(f)

    def run(self, name, scenario):
        return self.finish_run(self.start_run(name, scenario))


def wait_reply(program, timeout, start=0):
    """The next "reply" line of a plain hub from line `start` on; BenchError if none came."""
    match = program.wait_line(r"^reply (.*)$", timeout, start)
    if not match:
        raise BenchError(f"{program.name}: no reply from the endpoint within {timeout} s")
    return match


def line_count(program):
    return len(program.output())


def status_of(reply_text):
    found = re.search(r'"status": "([^"]*)"', reply_text)
    return found.group(1) if found else None
