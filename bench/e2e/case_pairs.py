"""32 stream/trigger pairs at 2k frames/s each in one scenario (case 4): loss from the
triggers; lateness from the same 32 streams into the C receiver on 32 ports (a run of their
own), against the C pacer sending the same 32 flows."""

import figures as fig
import results as res
from ports import free_ports
from scenarios import SECOND, scenario, stream, trigger
from table import Row

PAIRS = 32
RATE = 2_000
FRAMES = 4_000
GAP = SECOND // RATE
START = int(0.2 * SECOND)
DURATION = START + FRAMES * GAP + int(0.5 * SECOND)


def run_pairs(bench):
    ports = free_ports(2 * PAIRS)
    flows = []
    for i in range(PAIRS):
        flows.append(stream(2 * i + 1, ports[i], ports[PAIRS + i], GAP, FRAMES, 64, START))
        flows.append(trigger(2 * i + 2, ports[i], ports[PAIRS + i]))
    by_id = res.flows(bench.hub.run("pairs", scenario(104, DURATION, flows)))
    sent = sum(res.frames(by_id.get(2 * i + 1)) for i in range(PAIRS))
    counted = sum(res.frames(by_id.get(2 * i + 2)) for i in range(PAIRS))
    return {"sent": sent, "counted": counted, "error": res.failed_flows(by_id)}


def run_lateness(bench):
    receiver, ports = bench.refs.start_receiver([GAP] * PAIRS)
    try:
        sources = free_ports(PAIRS)
        flows = [stream(i + 1, sources[i], ports[i], GAP, FRAMES, 64, START) for i in range(PAIRS)]
        by_id = res.flows(bench.hub.run("pairs-to-receiver", scenario(105, DURATION, flows)))
    finally:
        report = bench.refs.finish_receiver(receiver)
    report["all"]["sent"] = sum(res.frames(by_id.get(i + 1)) for i in range(PAIRS))
    report["all"]["steal_ms"] = report["steal_ms"]
    return report["all"]


def run(bench):
    pairs, lateness, pacer = [], [], []
    for rep in range(bench.reps):
        bench.say(f"32 pairs at 2k/s, run {rep + 1} of {bench.reps}")
        pairs.append(run_pairs(bench))
        lateness.append(run_lateness(bench))
        report = bench.refs.paced_into_receiver(RATE, FRAMES, 64, ports=PAIRS)
        pacer.append(dict(report["all"], pacer_late=report["pacer_late"],
                          steal_ms=report["steal_ms"]))
    bench.keep("pairs", {"pairs": pairs, "lateness": lateness, "pacer": pacer})

    sent = fig.median([r["sent"] for r in pairs])
    counted = fig.median([r["counted"] for r in pairs])
    ref_frames = fig.median([r["frames"] for r in pacer])
    loss_row = Row(4, "32 pairs × 2k/s: counted", f"{fig.count(counted)} of {fig.count(sent)}",
                   f"pacer→receiver {fig.count(ref_frames)} of {PAIRS * FRAMES:,}",
                   fig.ratio(counted, sent), "no loss", bool(sent) and counted == sent,
                   {"sent": sent, "counted": counted,
                    "runs": [[r["sent"], r["counted"]] for r in pairs]},
                   "; ".join(sorted({r["error"] for r in pairs if r["error"]})))

    def late(runs, key):
        return fig.median([r.get("lateness_ns", {}).get(key) for r in runs])

    p99, ref_p99 = late(lateness, "p99"), late(pacer, "p99")
    bound = None if ref_p99 is None else max(200_000, 1.5 * ref_p99)
    missed = max((r["sent"] - r["frames"] for r in lateness), default=0)
    notes = []
    if missed > 0:
        notes.append(f"the C receiver missed up to {missed} frames in a run, which shifts later "
                     "frames by a gap each")
    behind = fig.median([r["pacer_late"] for r in pacer])
    if behind and behind > 0.01 * FRAMES:
        notes.append(f"the C pacer itself started {behind:,.0f} of {FRAMES:,} ticks a gap or "
                     "more late")
    steal = fig.steal_note([r.get("steal_ms") for r in lateness],
                           [r.get("steal_ms") for r in pacer])
    if steal:
        notes.append(steal)
    late_row = Row(4, "32 streams × 2k/s: lateness p50/p99/max",
                   fig.us_triple(late(lateness, "p50"), p99, late(lateness, "max")),
                   "pacer " + fig.us_triple(late(pacer, "p50"), ref_p99, late(pacer, "max")),
                   fig.ratio(p99, ref_p99), "p99 < max(200 µs, 1.5 × pacer)",
                   None if p99 is None or bound is None else p99 < bound,
                   {"roamnode_p99_ns": p99, "pacer_p99_ns": ref_p99, "bound_ns": bound},
                   "; ".join(notes))
    return [loss_row, late_row]
