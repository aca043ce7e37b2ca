#!/usr/bin/env bash
# A service unit as shipped: systemd accepts it, it keeps what it promises its users (a silent
# edit must not drop any of it), and an endpoint's command line in it starts with the shipped
# policy (the TLS one with certificates made here); a start that is refused (status 2) fails.
# verify insists that ExecStart names an existing program, so a copy points at the built one;
# the manual page named in Documentation= is the built one. No ANALYZE: verify is left out.
#
#   verify_unit.sh UNIT BINARY MAN_PAGE PACKAGING_DIR [ANALYZE]
set -euo pipefail

unit=$1 binary=$2 man_page=$3 packaging_dir=$4 analyze=${5:-}
name=$(basename "$unit")

fail() { echo "FAIL: $*" >&2; exit 1; }

promises=('NoNewPrivileges=yes' 'ProtectSystem=strict' 'ProtectHome=yes' 'PrivateTmp=yes'
    'ProtectKernelTunables=yes' 'ProtectControlGroups=yes' 'WantedBy=multi-user.target')
# verify reads FILE:NAME as "load FILE under NAME", which is also the only way to name an
# instance with a port, as a file name with a colon would be split.
case $name in
roamnode@.service)
    promises+=('ExecStart=/usr/bin/roamnode --policy /etc/roamnode/policy.json %i'
        'User=roamnode' 'StateDirectory=roamnode/%i' 'WorkingDirectory=%S/roamnode/%i'
        'StandardOutput=null' 'StandardError=journal' 'Restart=on-failure'
        'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX AF_NETLINK'
        'CapabilityBoundingSet=CAP_NET_RAW CAP_NET_ADMIN' 'AmbientCapabilities=CAP_NET_RAW CAP_NET_ADMIN')
    # The device identifier lives in the state folder.
    pattern='^Environment=.*XDG_DATA_HOME=%S/roamnode/%i( |$)'
    # The template, and instances named as the manual tells people to name them: a plain
    # address, and a host name with a hyphen and a port.
    instances=("" roamnode@10.0.0.5.service roamnode@rally-hub.lab:9100.service) ;;
roamnode-tls@.service)
    promises+=('User=roamnode' 'RestartPreventExitStatus=2'
        'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX AF_NETLINK')
    pattern='^ExecStart=/usr/bin/roamnode --policy /etc/roamnode/policy.json .*tls://%i$'
    instances=(roamnode-tls@10.0.0.5.service) ;;
roamnode-hub.service)
    promises+=('DynamicUser=yes' 'User=roamnode-hub' 'StateDirectory=roamnode-hub'
        'WorkingDirectory=%S/roamnode-hub' 'ConditionPathExists=/etc/roamnode/schedule.json'
        'ExecReload=/bin/kill -HUP $MAINPID' 'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX'
        'CapabilityBoundingSet=')
    pattern='^ExecStart=/usr/bin/roamnode-hub serve .*--schedule /etc/roamnode/schedule.json'
    instances=("") ;;
*) fail "no promises known for $name" ;;
esac
for line in "${promises[@]}"; do
    grep -qxF -- "$line" "$unit" || fail "$unit lacks the line: $line"
done
grep -qE -- "$pattern" "$unit" || fail "$unit has no line matching $pattern"

work=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/units" "$work/man/man1" "$work/tls" "$work/home"
sed -E "s#^ExecStart=/usr/bin/roamnode(-hub)? #ExecStart=$binary #" "$unit" >"$work/units/$name"
grep -q "^ExecStart=$binary " "$work/units/$name" || fail "could not point ExecStart at $binary"
man_check=--man=no
if command -v man >/dev/null; then
    cp "$man_page" "$work/man/man1/"
    export MANPATH=$work/man
    man_check=--man=yes
fi
[ -n "$analyze" ] || { echo "no systemd-analyze: verify left out"; instances=(); }
for instance in "${instances[@]}"; do
    # verify passes some complaints with status 0; none are acceptable.
    if ! out=$("$analyze" verify "$man_check" "$work/units/$name${instance:+:$instance}" 2>&1) ||
        [ -n "$out" ]; then
        echo "$out" >&2
        fail "systemd-analyze verify rejected or complained about ${instance:-$name}"
    fi
    echo "ok: systemd-analyze verify ${instance:-$name}"
done

[ "$name" != roamnode-hub.service ] || exit 0
bash "$(dirname "$0")/../safety/make-certificates.sh" "$work/tls"
# The command line as this machine can run it; the hub is a closed port on loopback.
command=$(sed -n 's/^ExecStart=//p' "$unit" |
    sed -e "s#/usr/bin/roamnode#$binary#" -e "s#/etc/roamnode/policy.json#$packaging_dir/policy.json#" \
        -e "s#/etc/roamnode/tls/#$work/tls/#g" -e 's#%i#127.0.0.1:1#')
expected='policy: destinations 10.0.0.0/8 172.16.0.0/12 192.168.0.0/16 169.254.0.0/16 fc00::/7 fe80::/10 (and the hub), stream rate 1000000000 bit/s, total rate 1000000000 bit/s, duration 3600 s, flows 256, HTTP ratelimit any, unlimited HTTP allowed, local UDP ports 1024-65535'
# shellcheck disable=SC2086 # the command line is split as systemd splits it
HOME=$work/home XDG_DATA_HOME=$work/home QT_QPA_PLATFORM=offscreen $command >"$work/out" 2>&1 &
pid=$!
for _ in $(seq 100); do
    grep -qxF "$expected" "$work/out" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
grep -qxF "$expected" "$work/out" || { cat "$work/out" >&2; fail "$command did not start with the shipped policy"; }
kill -0 "$pid" 2>/dev/null || { cat "$work/out" >&2; fail "$command stopped"; }
echo "ok: $name starts with the shipped policy"
