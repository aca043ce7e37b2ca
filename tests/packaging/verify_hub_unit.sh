#!/usr/bin/env bash
# systemd must accept the hub's service as shipped, and the unit must keep what it promises:
# its own user, its state folder, the schedule's place, and the endpoint unit's hardening.
# verify insists that ExecStart names an existing program, so a copy points at the built one.
set -euo pipefail

packaging_dir=$1
binary=$2
analyze=${3:-systemd-analyze}
unit=$packaging_dir/systemd/roamnode-hub.service

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

for line in \
    'DynamicUser=yes' \
    'User=roamnode-hub' \
    'StateDirectory=roamnode-hub' \
    'WorkingDirectory=%S/roamnode-hub' \
    'ConditionPathExists=/etc/roamnode/schedule.json' \
    'ExecReload=/bin/kill -HUP $MAINPID' \
    'NoNewPrivileges=yes' \
    'ProtectSystem=strict' \
    'ProtectHome=yes' \
    'PrivateTmp=yes' \
    'ProtectKernelTunables=yes' \
    'ProtectControlGroups=yes' \
    'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX' \
    'CapabilityBoundingSet=' \
    'WantedBy=multi-user.target'; do
    grep -qxF -- "$line" "$unit" || fail "$unit lacks the line: $line"
done
grep -qE '^ExecStart=/usr/bin/roamnode-hub serve .*--schedule /etc/roamnode/schedule.json' "$unit" \
    || fail "$unit does not run serve with /etc/roamnode/schedule.json"

mkdir -p "$work/units" "$work/man/man1"
sed "s#^ExecStart=/usr/bin/roamnode-hub #ExecStart=$binary #" "$unit" > "$work/units/roamnode-hub.service"
man_check=--man=no
if command -v man >/dev/null; then
    cp "$packaging_dir/man/roamnode-hub.1" "$work/man/man1/"
    export MANPATH=$work/man
    man_check=--man=yes
fi
if ! out=$("$analyze" verify "$man_check" "$work/units/roamnode-hub.service" 2>&1) || [ -n "$out" ]; then
    echo "$out" >&2
    fail "systemd-analyze verify rejected or complained about roamnode-hub.service"
fi
echo "ok: systemd-analyze verify roamnode-hub.service"
