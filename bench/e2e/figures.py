"""Medians over repetitions and the units the table shows figures in."""

import os
import statistics


def steal_ms():
    """CPU time the hypervisor has taken from this guest since boot, all CPUs, in ms. A guest
    that is stopped for a tenth of a second makes every frame of that moment late."""
    with open("/proc/stat", encoding="ascii") as f:
        fields = f.readline().split()
    return int(fields[8]) * 1000 // os.sysconf("SC_CLK_TCK") if len(fields) > 8 else 0


def median(values):
    """Median of the values that exist; None when there are none."""
    present = [v for v in values if v is not None]
    return statistics.median(present) if present else None


def worst(values, higher_is_worse=True):
    present = [v for v in values if v is not None]
    if not present:
        return None
    return max(present) if higher_is_worse else min(present)


def ratio(numerator, denominator):
    if numerator is None or denominator in (None, 0):
        return None
    return numerator / denominator


def us(ns):
    """Nanoseconds as microseconds for the table."""
    if ns is None:
        return "-"
    value = ns / 1000.0
    return f"{value:.0f} µs" if abs(value) >= 100 else f"{value:.1f} µs"


def us_triple(p50, p99, top):
    if p50 is None:
        return "-"
    return f"{us(p50)[:-3]}/{us(p99)[:-3]}/{us(top)}"


def rate(per_second):
    if per_second is None:
        return "-"
    if per_second >= 1e6:
        return f"{per_second / 1e6:.2f}M/s"
    if per_second >= 1e3:
        return f"{per_second / 1e3:.1f}k/s"
    return f"{per_second:.0f}/s"


def mbytes(per_second):
    return "-" if per_second is None else f"{per_second / 1e6:.1f} MB/s"


def percent(value, digits=2):
    return "-" if value is None else f"{value:.{digits}f} %"


def count(value):
    return "-" if value is None else f"{value:,.0f}"


def steal_note(ours, pacer):
    """The hypervisor's steal in each repetition, when there was any: a run it stopped for
    tens of milliseconds has a p99 of tens of milliseconds, whoever sent."""
    if not any(v for v in ours + pacer if v):
        return ""

    def runs(values):
        return "/".join("-" if v is None else f"{v:.0f}" for v in values)

    return f"hypervisor steal during the runs: Roamnode {runs(ours)} ms, pacer {runs(pacer)} ms"
