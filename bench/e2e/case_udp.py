"""Stream -> trigger on one endpoint at 10k and 100k frames/s and as fast as possible, 64 and
1,400-byte frames (case 1), and the latency the trigger reports at 10k frames/s (case 2).

Each repetition is three runs of the endpoint plus the references:
1. one scenario with a stream/trigger pair per rate and size, one after another in time: frames
   sent (the stream's counts), counted (the trigger's), latency (the trigger's);
2. the same streams, without triggers, into the C receiver: lateness against the schedule, from
   kernel receive times;
3. the C pacer into the C receiver at each rate; the sendmmsg sender and iperf3 as fast as they
   go.
"""

from dataclasses import dataclass

import figures as fig
import results as res
from ports import free_ports
from scenarios import MS, SECOND, scenario, stream, trigger
from table import Row

SENDING_S = 1.0
# Between two segments, so that one's last frames are in before the next one starts.
PAUSE_S = 0.4
# "As fast as possible" is a gap of 1 us: a schedule no sender here can keep up with, so the
# stream sends back to back until its end time (frames x gap + 1 ms); a gap of 1 ns would end the
# schedule after a millisecond. The slot leaves room for the frames at any speed.
AFAP_GAP_NS = 1000
AFAP_FRAMES = {64: 400_000, 1400: 400_000}
AFAP_SLOT_S = 1.5
AFAP_REFERENCE_MS = 1000
IPERF3_SECONDS = 2
# Fewer frames than this give no send rate: a burst or two says nothing about a sustained one.
MIN_FRAMES_FOR_RATE = 1000


@dataclass
class Segment:
    rate: int  # frames per second; 0: as fast as possible
    size: int  # UDP payload bytes

    @property
    def label(self):
        speed = f"{self.rate // 1000}k/s" if self.rate else "as fast as possible"
        return f"{speed}, {self.size} B"

    @property
    def gap(self):
        return SECOND // self.rate if self.rate else AFAP_GAP_NS

    @property
    def frames(self):
        return int(self.rate * SENDING_S) if self.rate else AFAP_FRAMES[self.size]


SEGMENTS = [Segment(10_000, 64), Segment(10_000, 1400), Segment(100_000, 64),
            Segment(100_000, 1400), Segment(0, 64), Segment(0, 1400)]
PACED = [s for s in SEGMENTS if s.rate]


def timeline(segments):
    """Start of each segment and the scenario's duration, in ns."""
    starts, t = [], 0.2
    for segment in segments:
        starts.append(int(t * SECOND))
        t += (SENDING_S if segment.rate else AFAP_SLOT_S) + PAUSE_S
    return starts, int((t + 0.2) * SECOND)


def run_pairs(bench):
    """Run 1: label -> sent, counted, send rate, latency of each pair."""
    ports = free_ports(2 * len(SEGMENTS))
    starts, duration = timeline(SEGMENTS)
    flows = []
    for i, (segment, start) in enumerate(zip(SEGMENTS, starts)):
        src, dst = ports[2 * i], ports[2 * i + 1]
        flows.append(stream(2 * i + 1, src, dst, segment.gap, segment.frames, segment.size, start))
        flows.append(trigger(2 * i + 2, src, dst))
    by_id = res.flows(bench.hub.run("stream-trigger", scenario(101, duration, flows)))
    out = {}
    for i, segment in enumerate(SEGMENTS):
        sent, counted = by_id.get(2 * i + 1), by_id.get(2 * i + 2)
        average, top = res.latency(counted) if counted else (None, None)
        enough = res.frames(sent) >= MIN_FRAMES_FOR_RATE
        out[segment.label] = {
            "sent": res.frames(sent), "counted": res.frames(counted),
            "send_rate": res.send_rate(sent) if enough else None,
            "latency_avg": average, "latency_max": top,
            "error": res.failed_flows({k: by_id[k] for k in (2 * i + 1, 2 * i + 2) if k in by_id}),
        }
    return out


def run_lateness(bench):
    """Run 2: label -> the C receiver's report on that stream, and the frames the stream sent."""
    receiver, ports = bench.refs.start_receiver([s.gap for s in PACED])
    try:
        sources = free_ports(len(PACED))
        starts, duration = timeline(PACED)
        flows = [stream(i + 1, sources[i], ports[i], s.gap, s.frames, s.size, start)
                 for i, (s, start) in enumerate(zip(PACED, starts))]
        by_id = res.flows(bench.hub.run("stream-to-receiver", scenario(102, duration, flows)))
    finally:
        report = bench.refs.finish_receiver(receiver)
    out = {}
    for i, segment in enumerate(PACED):
        port = report["ports"][i]
        port["sent"] = res.frames(by_id.get(i + 1))
        port["steal_ms"] = report["steal_ms"]
        out[segment.label] = port
    return out


def run_references(bench):
    out = {}
    for segment in PACED:
        report = bench.refs.paced_into_receiver(segment.rate, segment.frames, segment.size)
        out[segment.label] = dict(report["all"], sent=report["sent"],
                                  pacer_late=report["pacer_late"], steal_ms=report["steal_ms"])
    for segment in SEGMENTS:
        if not segment.rate:
            out[segment.label] = bench.refs.blast_into_receiver(segment.size, AFAP_REFERENCE_MS)
    report = bench.refs.iperf3(["-u", "-b", "0", "-l", "64"], IPERF3_SECONDS)
    sent = report["end"]["sum_sent"]
    out["iperf3"] = {"packets": sent["packets"], "pps": sent["packets"] / sent["seconds"]}
    return out


def dig(runs, *path):
    """The value at `path` in every repetition (None where it is missing)."""
    values = []
    for run in runs:
        for key in path:
            run = run.get(key) if isinstance(run, dict) else None
        values.append(run)
    return values


def loss_percent(sent, counted):
    """Of the median frames sent, the share the median count lacks."""
    return None if not sent or counted is None else 100.0 * (sent - counted) / sent


def paced_rows(segment, pairs, lateness, refs):
    label = segment.label
    sent = fig.median(dig(pairs, label, "sent"))
    counted = fig.median(dig(pairs, label, "counted"))
    loss = loss_percent(sent, counted)
    ref_received = fig.median(dig(refs, label, "frames"))
    ref_sent = fig.median(dig(refs, label, "sent"))
    goal = segment.rate == 100_000 and segment.size == 64
    notes = [n for n in dig(pairs, label, "error") if n]
    counted_row = Row(
        1, f"stream→trigger {label}: counted",
        f"{fig.count(counted)} of {fig.count(sent)} ({fig.percent(loss, 3)} lost)",
        f"pacer→receiver {fig.count(ref_received)} of {fig.count(ref_sent)}",
        fig.ratio(counted, sent),
        "≥ 99.99 % counted" if goal else "",
        (loss is not None and loss <= 0.01) if goal else None,
        {"sent": sent, "counted": counted, "loss_percent": loss,
         "reference_received": ref_received, "reference_sent": ref_sent},
        "; ".join(sorted(set(notes))))

    late = {k: fig.median(dig(lateness, label, "lateness_ns", k)) for k in ("p50", "p99", "max")}
    ref_late = {k: fig.median(dig(refs, label, "lateness_ns", k)) for k in ("p50", "p99", "max")}
    lost = [s - f for s, f in zip(dig(lateness, label, "sent"), dig(lateness, label, "frames"))
            if s is not None and f is not None]
    notes = []
    if any(lost):
        notes.append(f"the C receiver missed {max(lost)} of the stream's frames in a run: later "
                     "frames count one gap later per frame missed")
    behind = fig.median(dig(refs, label, "pacer_late"))
    if behind and behind > 0.01 * segment.frames:
        notes.append(f"the C pacer itself started {behind:,.0f} of {segment.frames:,} frames "
                     "a gap or more late")
    steal = fig.steal_note(dig(lateness, label, "steal_ms"), dig(refs, label, "steal_ms"))
    if steal:
        notes.append(steal)
    ratio = fig.ratio(late["p99"], ref_late["p99"])
    lateness_row = Row(
        1, f"stream {label}: lateness p50/p99/max",
        fig.us_triple(late["p50"], late["p99"], late["max"]),
        "pacer " + fig.us_triple(ref_late["p50"], ref_late["p99"], ref_late["max"]),
        ratio, "p99 ≤ 1.5 × pacer" if goal else "",
        (ratio is not None and ratio <= 1.5) if goal else None,
        {"roamnode_ns": late, "pacer_ns": ref_late,
         "frames_missed_by_receiver": max(lost) if lost else None}, "; ".join(notes))
    return [counted_row, lateness_row]


def fast_rows(segment, pairs, refs):
    label = segment.label
    sent = fig.median(dig(pairs, label, "sent"))
    counted = fig.median(dig(pairs, label, "counted"))
    pps = fig.median(dig(pairs, label, "send_rate"))
    mmsg = fig.median(dig(refs, label, "pps"))
    iperf = fig.median(dig(refs, "iperf3", "pps"))
    goal = segment.size == 64
    note = (f"the stream sent {fig.count(sent)} of {AFAP_FRAMES[segment.size]:,} frames"
            if sent is not None and sent < AFAP_FRAMES[segment.size] else "")
    rows = []
    if goal:
        ratio = fig.ratio(pps, iperf)
        rows.append(Row(1, f"stream {label}: sent frames/s vs iperf3", fig.rate(pps),
                        f"iperf3 -u -b 0 -l 64: {fig.rate(iperf)}", ratio, "≥ 1.0 × iperf3",
                        ratio is not None and ratio >= 1.0,
                        {"roamnode_pps": pps, "iperf3_pps": iperf}, note))
    ratio = fig.ratio(pps, mmsg)
    rows.append(Row(1, f"stream {label}: sent frames/s vs sendmmsg", fig.rate(pps),
                    f"sendmmsg: {fig.rate(mmsg)}", ratio, "≥ 0.95 × sendmmsg" if goal else "",
                    (ratio is not None and ratio >= 0.95) if goal else None,
                    {"roamnode_pps": pps, "sendmmsg_pps": mmsg}, "" if goal else note))
    loss = loss_percent(sent, counted)
    rows.append(Row(1, f"stream→trigger {label}: counted",
                    f"{fig.count(counted)} of {fig.count(sent)} ({fig.percent(loss, 3)} lost)",
                    f"sendmmsg→receiver {fig.count(fig.median(dig(refs, label, 'received')))} of "
                    f"{fig.count(fig.median(dig(refs, label, 'sent')))}",
                    fig.ratio(counted, sent), "no loss" if goal else "",
                    (loss is not None and loss == 0 and bool(sent)) if goal else None,
                    {"sent": sent, "counted": counted}))
    return rows


def latency_rows(pairs, lateness, refs):
    label = Segment(10_000, 64).label
    # The stream's own tags as the C receiver sees them: the sending half of the latency.
    sending = (f"Roamnode stream → C receiver (kernel time − tag): "
               f"p50 {fig.us(fig.median(dig(lateness, label, 'latency_ns', 'p50')))}, "
               f"max {fig.us(fig.median(dig(lateness, label, 'latency_ns', 'max')))}")
    average = fig.median(dig(pairs, label, "latency_avg"))
    top = fig.median(dig(pairs, label, "latency_max"))
    p50 = fig.median(dig(refs, label, "latency_ns", "p50"))
    ref_max = fig.median(dig(refs, label, "latency_ns", "max"))
    avg_off = None if average is None or p50 is None else average - p50
    max_off = None if top is None or ref_max is None else top - ref_max
    return [
        Row(2, "latency at 10k/s, 64 B: trigger's average vs kernel p50", fig.us(average),
            f"pacer→receiver p50 {fig.us(p50)}", fig.ratio(average, p50), "within 10 µs",
            None if avg_off is None else abs(avg_off) <= 10_000,
            {"roamnode_avg_ns": average, "reference_p50_ns": p50}, sending),
        Row(2, "latency at 10k/s, 64 B: trigger's max vs kernel max", fig.us(top),
            f"pacer→receiver max {fig.us(ref_max)}", fig.ratio(top, ref_max), "within 1 ms",
            None if max_off is None else max_off <= 1 * MS,
            {"roamnode_max_ns": top, "reference_max_ns": ref_max}),
    ]


def run(bench):
    pairs, lateness, refs = [], [], []
    for rep in range(bench.reps):
        bench.say(f"stream → trigger, run {rep + 1} of {bench.reps}")
        pairs.append(run_pairs(bench))
        bench.say(f"streams → C receiver, run {rep + 1} of {bench.reps}")
        lateness.append(run_lateness(bench))
        bench.say(f"C pacer, sendmmsg sender and iperf3, run {rep + 1} of {bench.reps}")
        refs.append(run_references(bench))
    bench.keep("stream_trigger", {"pairs": pairs, "lateness": lateness, "references": refs})
    rows = []
    for segment in SEGMENTS:
        rows += paced_rows(segment, pairs, lateness, refs) if segment.rate else \
            fast_rows(segment, pairs, refs)
    return rows + latency_rows(pairs, lateness, refs)
