"""Ports found at run time, and waiting for a port to be taken by a program."""

import socket
import time


def free_ports(count, kind=socket.SOCK_DGRAM):
    """`count` distinct ports that are free now on every IPv4 address. All sockets stay open
    until the last one is bound, so the system cannot hand out one port twice."""
    held = []
    try:
        for _ in range(count):
            s = socket.socket(socket.AF_INET, kind)
            s.bind(("0.0.0.0", 0))
            held.append(s)
        return [s.getsockname()[1] for s in held]
    finally:
        for s in held:
            s.close()


def _bound(table, port, listening_only):
    # /proc/net/{udp,tcp}: "sl local_address rem_address st ...", addresses as HEX_IP:HEX_PORT;
    # state 0A is LISTEN for TCP.
    try:
        with open(table, encoding="ascii") as f:
            next(f)
            for line in f:
                fields = line.split()
                if int(fields[1].rsplit(":", 1)[1], 16) != port:
                    continue
                if not listening_only or fields[3] == "0A":
                    return True
    except OSError:
        pass
    return False


def wait_bound(port, timeout, tcp=False, poll=0.005):
    """True once a socket of this machine is bound to UDP `port` (or listens on TCP `port`),
    False after `timeout` seconds. The kernel offers no event for this, so it looks every few
    milliseconds."""
    table = "/proc/net/tcp" if tcp else "/proc/net/udp"
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if _bound(table, port, tcp):
            return True
        time.sleep(poll)
    return _bound(table, port, tcp)
