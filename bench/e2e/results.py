"""Reading what `roamnode-hub run` wrote (results.json): one endpoint, one scenario result."""


class ResultsError(Exception):
    pass


def flows(results):
    """Flow id -> the endpoint's flow result (its "resultlist" entry for the flow)."""
    endpoints = results.get("endpoints") or []
    if not endpoints:
        raise ResultsError("results.json names no endpoint")
    endpoint = endpoints[0]
    if endpoint.get("status") != "done":
        raise ResultsError("the endpoint did not finish: " + str(endpoint.get("error")))
    runs = endpoint.get("resultlist") or []
    if not runs:
        raise ResultsError("the endpoint returned an empty result list")
    return {flow["id"]: flow for flow in runs[-1].get("flows", [])}


def failed_flows(by_id):
    """Text naming the flows that ended in "error", with their messages; empty when none."""
    return "; ".join(f"flow {i}: {f.get('errormsg')}" for i, f in sorted(by_id.items())
                     if f.get("status") == "error")


def frames(flow):
    return sum(flow.get("packetcountarray", [])) if flow else 0


def send_rate(flow):
    """Frames per second between the flow's first and last frame; None for fewer than two
    distinct times (all frames in one burst)."""
    first, last = flow.get("timestampfirst"), flow.get("timestamplast")
    if not first or not last or last <= first:
        return None
    return frames(flow) / ((last - first) / 1e9)


def latency(flow):
    """(average, max) one-way latency in ns over the whole flow: the per-second averages
    weighted by that second's frame count, and the largest per-second maximum."""
    entries = [e for e in flow.get("latencyarray", []) if "latencyavg" in e]
    if not entries:
        return None, None
    counts = flow.get("packetcountarray", [])
    # Counts and latency entries open together each second for a trigger with latency on.
    weights = counts if len(counts) == len(flow.get("latencyarray", [])) else None
    if weights:
        pairs = [(e["latencyavg"], w) for e, w in zip(flow["latencyarray"], weights)
                 if "latencyavg" in e]
        total = sum(w for _, w in pairs)
        average = sum(a * w for a, w in pairs) / total if total else None
    else:
        average = sum(e["latencyavg"] for e in entries) / len(entries)
    return average, max(e["latencymax"] for e in entries)
