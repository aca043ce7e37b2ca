#!/usr/bin/env bash
# systemd must accept a service unit as shipped, and the unit must keep what it promises its
# users: a silent edit must not drop any of it. verify insists that ExecStart names an existing
# program, so a copy points at the built one; the manual page named in Documentation= is looked
# up in the source tree.
set -euo pipefail

unit=$1
binary=$2
man_page=$3
analyze=${4:-systemd-analyze}
name=$(basename "$unit")

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

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
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/units" "$work/man/man1"
sed -E "s#^ExecStart=/usr/bin/roamnode(-hub)? #ExecStart=$binary #" "$unit" >"$work/units/$name"
grep -q "^ExecStart=$binary " "$work/units/$name" || fail "could not point ExecStart at $binary"
man_check=--man=no
if command -v man >/dev/null; then
    cp "$man_page" "$work/man/man1/"
    export MANPATH=$work/man
    man_check=--man=yes
fi

for instance in "${instances[@]}"; do
    shown=${instance:-$name}
    # verify passes some complaints with status 0; none are acceptable.
    if ! out=$("$analyze" verify "$man_check" "$work/units/$name${instance:+:$instance}" 2>&1) ||
        [ -n "$out" ]; then
        echo "$out" >&2
        fail "systemd-analyze verify rejected or complained about $shown"
    fi
    echo "ok: systemd-analyze verify $shown"
done
