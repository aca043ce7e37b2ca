#!/usr/bin/env bash
# The policy the package ships parses, and the services' command lines start with it: the plain
# template's and the TLS template's, each with its ExecStart pointed at the built program, the
# shipped policy and (for TLS) certificates made here. A start that is refused (status 2) fails.
set -euo pipefail

packaging_dir=$1
tls_unit=$2
binary=$3

work=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

mkdir -p "$work/tls" "$work/home"
bash "$(dirname "$0")/../safety/make-certificates.sh" "$work/tls"

# The command line of a unit as this machine can run it; the hub is a closed port on loopback.
command_of() {
    sed -n 's/^ExecStart=//p' "$1" |
        sed -e "s#/usr/bin/roamnode#$binary#" -e "s#/etc/roamnode/policy.json#$packaging_dir/policy.json#" \
            -e "s#/etc/roamnode/tls/#$work/tls/#g" -e 's#%i#127.0.0.1:1#'
}

expected='policy: destinations 10.0.0.0/8 172.16.0.0/12 192.168.0.0/16 169.254.0.0/16 fc00::/7 fe80::/10 (and the hub), stream rate 1000000000 bit/s, total rate 1000000000 bit/s, duration 3600 s, flows 256, HTTP ratelimit any, unlimited HTTP allowed, local UDP ports 1024-65535'

for unit in "$packaging_dir/systemd/roamnode@.service" "$tls_unit"; do
    command=$(command_of "$unit")
    [ -n "$command" ] || fail "$unit has no ExecStart"
    # shellcheck disable=SC2086 # the command line is split as systemd splits it
    HOME=$work/home XDG_DATA_HOME=$work/home QT_QPA_PLATFORM=offscreen $command \
        >"$work/out" 2>&1 &
    pid=$!
    for _ in $(seq 100); do
        grep -qxF "$expected" "$work/out" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -qxF "$expected" "$work/out" || { cat "$work/out" >&2; fail "$unit: $command did not start with the shipped policy"; }
    kill -0 "$pid" 2>/dev/null || { cat "$work/out" >&2; fail "$unit: $command stopped"; }
    kill "$pid"; wait "$pid" || true; pid=
    echo "ok: $(basename "$unit") starts with the shipped policy"
done
