"""Scenario descriptions as the hub sends them. Times are nanoseconds."""

MS = 1_000_000
SECOND = 1_000_000_000


def payload_hex(size):
    """`size` bytes 00 01 02 ... in the lower-case hex that "contentlist" takes."""
    return "".join(f"{i % 256:02x}" for i in range(size))


def stream(flow_id, src_port, dst_port, gap_ns, frames, size, start_ns, tag=True):
    content = {
        "initialtimetowait": start_ns, "srcport": src_port, "dstipv4": "127.0.0.1",
        "dstport": dst_port, "interframegap": gap_ns, "numberofframes": frames,
        "contentlist": [payload_hex(size)],
    }
    if tag:
        # The send time in the frame's last 8 bytes, where the trigger and the C receiver look.
        content["timetags"] = [{"position": 8, "timeoffset": 0}]
    return {"id": flow_id, "flowtype": "streamv4", "flow": content}


def trigger(flow_id, src_port, dst_port, latency=True):
    content = {"srcipv4": "127.0.0.1", "srcport": src_port, "dstport": dst_port}
    if latency:
        content["latency"] = {"type": "average", "position": 8, "timeoffset": 0}
    return {"id": flow_id, "flowtype": "triggerv4", "flow": content}


def http(flow_id, method, url, server_port, start_ns, duration_ns, rate_limit=None):
    content = {
        "requestmethod": method, "initialtimetowait": start_ns, "url": url, "srcport": 0,
        "dstipv4": "127.0.0.1", "dstport": server_port, "duration": duration_ns,
    }
    if rate_limit:
        content["ratelimit"] = rate_limit
    return {"id": flow_id, "flowtype": "tcpv4", "flow": content}


def scenario(scenario_id, duration_ns, flows):
    return {"scenarioid": scenario_id, "duration": int(duration_ns), "flows": flows}
