#!/usr/bin/env bash
# Two endpoints on two "machines": network namespaces A and B with addresses of their own on a
# bridge (where the hub and roamnode-httpd listen), and a direct link from A to B through a token
# bucket (tc tbf) that lets through far less than A's stream to B's trigger sends; both do a GET
# and a PUT against the one server. The map names the endpoints by their addresses. Exit 77
# (skipped) without root, network namespaces, tbf or python3. Everything made here has names
# unique to this run and is removed however the test ends.
set -uo pipefail

skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

[ $# -eq 4 ] || { echo "usage: $0 ROAMNODE ROAMNODE_HUB ROAMNODE_HTTPD WORK_DIR" >&2; exit 2; }
endpoint_bin=$(readlink -f "$1") hub_bin=$(readlink -f "$2") httpd_bin=$(readlink -f "$3")
work=$(readlink -f "$4")
[ "$(id -u)" -eq 0 ] || skip "not root"
command -v ip >/dev/null && command -v tc >/dev/null || skip "no ip or tc"
command -v python3 >/dev/null || skip "no python3"

# Unique per run: interface names stay within 15 characters.
tag="rn$$"
# The benchmarking range (198.18.0.0/15): nothing outside answers it.
net="198.18.$(($$ % 250 + 1))" link="198.19.$(($$ % 250 + 1))"
ns_a="${tag}A" ns_b="${tag}B" bridge="${tag}br"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do
        timeout 5 tail --pid="$pid" -f /dev/null || kill -KILL "$pid" 2>/dev/null
    done
    for ns in "$ns_a" "$ns_b"; do ip netns del "$ns" 2>/dev/null; done
    for link in "${tag}a0" "${tag}b0" "${tag}ab" "$bridge"; do ip link del "$link" 2>/dev/null; done
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

ip netns add "$ns_a" 2>/dev/null || skip "ip netns add is not allowed here"
ip netns add "$ns_b" || fail "second namespace"
ip link add "$bridge" type bridge || skip "no bridge"
ip addr add "$net.1/24" dev "$bridge" && ip link set "$bridge" up || fail "bridge address"
host=2
for side in a b; do
    ns="${tag}${side^^}"
    ip link add "${tag}${side}0" type veth peer name "${tag}${side}1" || fail "veth"
    ip link set "${tag}${side}1" netns "$ns" || fail "veth into $ns"
    ip link set "${tag}${side}0" master "$bridge" && ip link set "${tag}${side}0" up || fail "veth up"
    ip -n "$ns" link set lo up
    ip -n "$ns" addr add "$net.$host/24" dev "${tag}${side}1" || fail "address in $ns"
    ip -n "$ns" link set "${tag}${side}1" up || fail "veth up in $ns"
    host=$((host + 1))
done
addr_a="$net.2" addr_b="$net.3"
ip link add "${tag}ab" type veth peer name "${tag}ba" || fail "direct veth"
ip link set "${tag}ab" netns "$ns_a" && ip link set "${tag}ba" netns "$ns_b" || fail "direct veth"
ip -n "$ns_a" addr add "$link.1/24" dev "${tag}ab" && ip -n "$ns_a" link set "${tag}ab" up &&
    ip -n "$ns_b" addr add "$link.2/24" dev "${tag}ba" && ip -n "$ns_b" link set "${tag}ba" up ||
    fail "direct link"
# A to B: 2 Mbit/s, with a queue deeper than what A's socket may hold (4 MiB at most), so the
# stream's sends are held back (it falls short) and what waits in the queue when the trigger's
# window closes is lost. Only the stream takes this link: heartbeat and HTTP do not wait.
tc -n "$ns_a" qdisc add dev "${tag}ab" root tbf rate 2mbit burst 16kb limit 8mb \
    2>/dev/null || skip "no tbf"

rm -rf "$work" && mkdir -p "$work" || fail "work folder"

# Waits (10 s at most) for a line matching PATTERN in FILE and prints it.
wait_for_line() {
    for _ in $(seq 100); do
        grep -m1 -E "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

"$httpd_bin" --port 0 --bind "$net.1" --stats "$work/httpd.jsonl" >"$work/httpd.log" 2>&1 &
pids+=($!)
http_port=$(wait_for_line "$work/httpd.log" '^listening on [0-9]+') || fail "httpd did not start"
http_port=${http_port##* }

udp_src=40020 udp_dst=40021
http_flows() { # a GET (id 2) and a PUT (id 3)
    local id=2 sep=
    for method in get put; do
        printf '%s{"id": %d, "flowtype": "tcpv4", "flow": {"requestmethod": "%s", "initialtimetowait": 0, "url": "/t/%s", "srcport": 0, "dstipv4": "%s", "dstport": %d, "duration": 2000000000, "ratelimit": 1000000}}' \
            "$sep" "$id" "$method" "$method" "$net.1" "$http_port"
        id=$((id + 1)) sep=", "
    done
}
frame=$(python3 -c 'print("00" * 1400)')
cat >"$work/map.json" <<EOF
{
  "$addr_a": {"scenarioid": 91, "duration": 2500000000, "flows": [
    {"id": 1, "flowtype": "streamv4", "flow": {"initialtimetowait": 0, "srcport": $udp_src,
     "dstipv4": "$link.2", "dstport": $udp_dst, "interframegap": 500000,
     "numberofframes": 5000, "contentlist": ["$frame"]}},
    $(http_flows)]},
  "$addr_b": {"scenarioid": 92, "duration": 2500000000, "flows": [
    {"id": 1, "flowtype": "triggerv4", "flow": {"srcipv4": "$link.1", "srcport": $udp_src,
     "dstport": $udp_dst}},
    $(http_flows)]}
}
EOF

"$hub_bin" run --map "$work/map.json" --port 0 --bind "$net.1" --out "$work/out" \
    --httpd-stats "$work/httpd.jsonl" --start-in 3 --clock-samples 2 --register-timeout 30 \
    >"$work/hub.log" 2>&1 &
hub_pid=$!
pids+=($hub_pid)
hub_port=$(wait_for_line "$work/hub.log" '^listening on ') || fail "the hub did not start"
hub_port=${hub_port##*:}

for ns in "$ns_a" "$ns_b"; do
    home="$work/$ns"
    mkdir -p "$home/data"
    (cd "$home" && exec ip netns exec "$ns" env HOME="$home" XDG_DATA_HOME="$home/data" \
        XDG_CONFIG_HOME="$home/config" QT_QPA_PLATFORM=offscreen \
        "$endpoint_bin" "$net.1:$hub_port" >"$home/endpoint.log" 2>&1) &
    pids+=($!)
done

timeout 90 tail --pid="$hub_pid" -f /dev/null || { cat "$work/hub.log"; fail "the run did not end within 90 s"; }
wait "$hub_pid"
status=$?
cat "$work/hub.log"
[ "$status" -eq 3 ] || fail "exit status $status, not 3"

python3 - "$work/out/results.json" "$work/httpd.jsonl" "$addr_a" "$addr_b" <<'EOF' || exit 1
import json, sys
results = json.load(open(sys.argv[1]))
stats = [json.loads(line) for line in open(sys.argv[2]) if line.strip()]
addr_a, addr_b = sys.argv[3], sys.argv[4]
errors = []
by_scenario = {s["scenarioid"]: s for s in results["summary"]}
stream = next(f for f in by_scenario[91]["flows"] if f["type"] == "streamv4")
trigger = next(f for f in by_scenario[92]["flows"] if f["type"] == "triggerv4")
if not stream.get("short"):
    errors.append("A's stream is not marked short: %s" % stream)
if trigger.get("pairing") != "paired":
    errors.append("the trigger is not paired: %s" % trigger)
if trigger.get("lostpackets") != stream["packets"] - trigger["packets"]:
    errors.append("loss %s != %d sent - %d received" %
                  (trigger.get("lostpackets"), stream["packets"], trigger["packets"]))
for scenario, address in ((91, addr_a), (92, addr_b)):
    for flow in by_scenario[scenario]["flows"]:
        if not flow["type"].startswith("tcp"):
            continue
        method = "GET" if flow["id"] == 2 else "PUT"
        server = sum(s["bytes"] for s in stats if s["address"] == address and s["method"] == method)
        if flow["measuredby"] != "server" or abs(flow["bytes"] - server) > 65536 or server == 0:
            errors.append("scenario %d flow %d: %s bytes, the server counted %d from %s" %
                          (scenario, flow["id"], flow["bytes"], server, address))
print("stream sent %d of %d planned, trigger received %d, loss %d" %
      (stream["packets"], stream["plannedframes"], trigger["packets"], trigger["lostpackets"] or 0))
for e in errors:
    print("FAILED:", e, file=sys.stderr)
sys.exit(1 if errors else 0)
EOF
echo "two namespaces: passed"
