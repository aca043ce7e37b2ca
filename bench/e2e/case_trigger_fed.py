"""A Roamnode trigger fed by the C sender at 100k frames/s, 64-byte frames (case 3): does it
count every frame that the sender handed to the kernel?"""

import figures as fig
import results as res
from ports import free_ports, wait_bound
from roamnode import BenchError
from scenarios import SECOND, scenario, trigger
from table import Row

RATE = 100_000
FRAMES = 200_000
# The trigger listens for the whole scenario; the sender needs FRAMES / RATE = 2 s of it.
DURATION = int(3.5 * SECOND)


def run_once(bench):
    sender_port, trigger_port = free_ports(2)
    handle = bench.hub.start_run(
        "trigger-fed", scenario(103, DURATION, [trigger(1, sender_port, trigger_port, False)]))
    # The trigger's socket is bound when the scenario starts; the sender starts right after.
    if not wait_bound(trigger_port, 30):
        bench.hub.finish_run(handle)
        raise BenchError("the trigger's port was not bound within 30 s of the hub's start")
    sent = bench.refs.blast(trigger_port, 64, count=FRAMES, rate=RATE, src_port=sender_port)
    by_id = res.flows(bench.hub.finish_run(handle))
    return {"sent": sent["sent"], "counted": res.frames(by_id.get(1)),
            "error": res.failed_flows(by_id)}


def run(bench):
    runs = []
    for rep in range(bench.reps):
        bench.say(f"C sender → trigger at 100k/s, run {rep + 1} of {bench.reps}")
        runs.append(run_once(bench))
    bench.keep("trigger_fed", runs)
    sent = fig.median([r["sent"] for r in runs])
    counted = fig.median([r["counted"] for r in runs])
    worst = fig.worst([r["sent"] - r["counted"] for r in runs])
    ratio = fig.ratio(counted, sent)
    return [Row(3, "C sender → trigger, 100k/s, 64 B: counted",
                f"{fig.count(counted)} of {fig.count(sent)}",
                "sendmmsg sender, batches of 64", ratio, "100 % counted",
                ratio is not None and counted == sent,
                {"sent": sent, "counted": counted, "worst_missing": worst,
                 "runs": [[r["sent"], r["counted"]] for r in runs]},
                "; ".join(sorted({r["error"] for r in runs if r["error"]})))]
