"""Programs the bench starts, and the promise that every one of them is stopped again.

Each program runs in a session of its own, so a Ctrl-C on the terminal reaches only the bench,
which then stops them in order. Their output is read by a thread per stream into memory and into
a log file, so the bench can wait for a line ("listening on ...") with a bound instead of
sleeping.
"""

import os
import re
import signal
import subprocess
import threading
import time


class Program:
    """One started program: its output lines so far and the means to wait on them."""

    def __init__(self, name, argv, log_dir, cwd=None, env=None):
        self.name = name
        self.argv = argv
        self.lines = []
        self._changed = threading.Condition()
        self._log = open(os.path.join(log_dir, name + ".log"), "w", encoding="utf-8")
        self._log.write("$ " + " ".join(argv) + "\n")
        self._log.flush()
        self.popen = subprocess.Popen(
            argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, start_new_session=True)
        self._readers = [
            threading.Thread(target=self._read, args=(self.popen.stdout, True), daemon=True),
            threading.Thread(target=self._read, args=(self.popen.stderr, False), daemon=True),
        ]
        for reader in self._readers:
            reader.start()

    @property
    def pid(self):
        return self.popen.pid

    def _read(self, stream, keep):
        for raw in iter(stream.readline, b""):
            line = raw.decode("utf-8", "replace").rstrip("\n")
            with self._changed:
                self._log.write(("" if keep else "! ") + line + "\n")
                self._log.flush()
                if keep:
                    self.lines.append(line)
                self._changed.notify_all()
        with self._changed:
            self._changed.notify_all()

    def wait_line(self, pattern, timeout, start=0):
        """The first match of `pattern` in standard output from line `start` on, or None when
        it did not come within `timeout` seconds or the program ended without it."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        seen = start
        with self._changed:
            while True:
                while seen < len(self.lines):
                    match = regex.search(self.lines[seen])
                    seen += 1
                    if match:
                        return match
                left = deadline - time.monotonic()
                if left <= 0 or (self.popen.poll() is not None and not self._reading()):
                    return None
                self._changed.wait(min(left, 0.5))

    def count_lines(self, pattern, count, timeout):
        """Matches of `pattern` in standard output, waiting until there are `count` of them or
        `timeout` seconds have passed; returns the matches found."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self._changed:
            while True:
                found = [m for m in map(regex.search, self.lines) if m]
                left = deadline - time.monotonic()
                if len(found) >= count or left <= 0 or self.popen.poll() is not None:
                    return found
                self._changed.wait(min(left, 0.5))

    def _reading(self):
        return any(reader.is_alive() for reader in self._readers)

    def wait_exit(self, timeout):
        """The exit status, or None when the program is still running after `timeout` s."""
        try:
            status = self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        for reader in self._readers:
            reader.join(timeout=2)
        return status

    def running(self):
        return self.popen.poll() is None

    def signal(self, signo):
        if self.running():
            try:
                os.killpg(self.popen.pid, signo)
            except ProcessLookupError:
                pass

    def stop(self, grace=5.0):
        """SIGTERM to its process group, then SIGKILL if it has not gone after `grace` s."""
        self.signal(signal.SIGTERM)
        if self.wait_exit(grace) is None:
            self.signal(signal.SIGKILL)
            self.wait_exit(grace)
        self.close()

    def close(self):
        with self._changed:
            if not self._log.closed:
                self._log.close()

    def output(self):
        with self._changed:
            return list(self.lines)


class Processes:
    """Every program started through it, newest stopped first at the end or on interruption."""

    def __init__(self, log_dir):
        self.log_dir = log_dir
        self._programs = []
        self._names = {}

    def start(self, name, argv, cwd=None, env=None):
        # Several runs of one program get numbered logs: stream-trigger-1.log, -2, ...
        count = self._names.get(name, 0) + 1
        self._names[name] = count
        program = Program(f"{name}-{count}", [str(a) for a in argv], self.log_dir, cwd, env)
        self._programs.append(program)
        return program

    def stop(self, program, grace=5.0):
        program.stop(grace)
        if program in self._programs:
            self._programs.remove(program)

    def stop_all(self):
        for program in reversed(self._programs):
            program.stop()
        self._programs.clear()
