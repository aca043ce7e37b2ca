#!/usr/bin/env bash
# systemd must accept the service template as shipped. verify insists that
# ExecStart names an existing program, so a copy points at the built one;
# the manual page named in Documentation= is looked up in the source tree.
set -euo pipefail

packaging_dir=$1
binary=$2
analyze=${3:-systemd-analyze}
unit=$packaging_dir/systemd/roamnode@.service

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# What the service promises its users; a silent edit must not drop any of it.
for line in \
    'ExecStart=/usr/bin/roamnode --policy /etc/roamnode/policy.json %i' \
    'User=roamnode' \
    'StateDirectory=roamnode/%i' \
    'WorkingDirectory=%S/roamnode/%i' \
    'StandardOutput=null' \
    'StandardError=journal' \
    'Restart=on-failure' \
    'NoNewPrivileges=yes' \
    'ProtectSystem=strict' \
    'ProtectHome=yes' \
    'PrivateTmp=yes' \
    'ProtectKernelTunables=yes' \
    'ProtectControlGroups=yes' \
    'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX AF_NETLINK' \
    'CapabilityBoundingSet=CAP_NET_RAW CAP_NET_ADMIN' \
    'AmbientCapabilities=CAP_NET_RAW CAP_NET_ADMIN' \
    'WantedBy=multi-user.target'; do
    grep -qxF -- "$line" "$unit" || fail "$unit lacks the line: $line"
done
grep -qE '^Environment=.*XDG_DATA_HOME=%S/roamnode/%i( |$)' "$unit" \
    || fail "$unit does not keep the device identifier in the state folder"

mkdir -p "$work/units" "$work/man/man1"
sed "s#^ExecStart=/usr/bin/roamnode #ExecStart=$binary #" "$unit" > "$work/units/roamnode@.service"
grep -qxF "ExecStart=$binary --policy /etc/roamnode/policy.json %i" "$work/units/roamnode@.service" \
    || fail "could not point ExecStart at $binary"

man_check=--man=no
if command -v man >/dev/null; then
    cp "$packaging_dir/man/roamnode.1" "$work/man/man1/"
    export MANPATH=$work/man
    man_check=--man=yes
fi

# The template itself, and instances named as the manual tells people to name
# them: a plain address, and a host name with a hyphen and a port.
# verify reads FILE:NAME as "load FILE under NAME", which is also the only way
# to name an instance with a port, as a file name with a colon would be split.
status=0
for u in "" "roamnode@10.0.0.5.service" "roamnode@rally-hub.lab:9100.service"; do
    if ! out=$("$analyze" verify "$man_check" "$work/units/roamnode@.service${u:+:$u}" 2>&1); then
        echo "$out" >&2
        echo "FAIL: systemd-analyze verify rejected ${u:-roamnode@.service}" >&2
        status=1
    elif [ -n "$out" ]; then
        # verify passes some complaints with status 0; none are acceptable.
        echo "$out" >&2
        echo "FAIL: systemd-analyze verify complained about ${u:-roamnode@.service}" >&2
        status=1
    else
        echo "ok: systemd-analyze verify ${u:-roamnode@.service}"
    fi
done
exit $status
