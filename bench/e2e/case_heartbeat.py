"""One heartbeat exchange (case 6): the plain hub's --timings prints, after each reply, the
steady-clock time from its request's write completing to the reply's read completing. The hub
that sets the endpoint's heartbeat to 100 ms at the start of the bench is the one measured."""

import figures as fig
from table import Row

SAMPLES = 300
INTERVAL_S = 0.1
GOAL_NS = 2_000_000


def nearest_rank(sorted_values, p):
    rank = max(1, -(-len(sorted_values) * p // 100))
    return sorted_values[min(rank, len(sorted_values)) - 1]


def run(bench, hub, timings):
    if not timings:
        return [Row(6, "heartbeat exchange p50/p99", "not available", "-", None, "p99 < 2 ms",
                    None, note="this tree's roamnode-hub has no --timings option yet")]
    bench.say(f"{SAMPLES} heartbeat exchanges at {INTERVAL_S * 1000:.0f} ms")
    # The first exchange carried the "set" of the interval; the others are "nop".
    found = hub.count_lines(r"^exchange-ns (\d+)", SAMPLES + 1, SAMPLES * INTERVAL_S * 3 + 10)
    values = sorted(int(m.group(1)) for m in found[1:])
    if not values:
        return [Row(6, "heartbeat exchange p50/p99", "no exchange-ns lines", "-", None,
                    "p99 < 2 ms", None)]
    p50, p99 = nearest_rank(values, 50), nearest_rank(values, 99)
    bench.keep("heartbeat", {"exchange_ns": values})
    return [Row(6, "heartbeat exchange p50/p99", f"{fig.us(p50)[:-3]}/{fig.us(p99)}", "-", None,
                "p99 < 2 ms", p99 < GOAL_NS,
                {"p50_ns": p50, "p99_ns": p99, "max_ns": values[-1], "samples": len(values)},
                "" if len(values) >= SAMPLES else f"only {len(values)} exchanges in time")]
