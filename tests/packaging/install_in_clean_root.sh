#!/usr/bin/env bash
# Builds the Debian package from a build tree, installs it with apt into a fresh minimal Debian
# root (so every run-time dependency must come from its Depends) and checks what a user gets:
# files, system user, a headless endpoint that starts, a reinstall and a clean purge. The root
# is bootstrapped once and cached as a tarball. Exits 77 (skipped) when this machine cannot
# bootstrap a root: not root, no debootstrap, or no mirror.
set -euo pipefail

[ $# -eq 6 ] || { echo "usage: $0 BUILD_DIR CPACK CACHE SOURCE_DIR VERSION PROGRAMS" >&2; exit 2; }
build_dir=$1 cpack=$2 cache=$3 source_dir=$4 version=$5 programs=$6
suite=${ROAMNODE_DEBIAN_SUITE:-bookworm}

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $* ($(date -u +%T))"; }

[ "$(id -u)" -eq 0 ] || skip "bootstrapping a Debian root and chroot need root"
command -v debootstrap >/dev/null || skip "debootstrap is not installed (scripts/install-deps.sh installs it)"
command -v dpkg-deb >/dev/null || skip "dpkg-deb is not installed"

# The mirrors this machine's apt already uses, so the test goes where apt
# goes; deb.debian.org where nothing says otherwise.
sites=$(apt-get indextargets --format '$(RELEASE) $(SITE)' 2>/dev/null | sort -u || true)
site_of() { awk -v release="$1" '$1 == release { print $2; exit }' <<<"$sites"; }
mirror=${ROAMNODE_DEBIAN_MIRROR:-$(site_of "$suite")}
mirror=${mirror:-http://deb.debian.org/debian}
security_mirror=$(site_of "$suite-security")
security_mirror=${security_mirror:-http://deb.debian.org/debian-security}

mirror_reachable() {
    python3 -c 'import sys, urllib.request; urllib.request.urlopen(sys.argv[1], timeout=20).read(64)' \
        "$mirror/dists/$suite/Release" 2>/dev/null
}

mirror_reachable || skip "the Debian mirror $mirror cannot be reached"

# Everything mounted below a folder, deepest first.
mounts_below() {
    awk -v top="$1" '$2 == top || index($2, top "/") == 1 { print $2 }' /proc/self/mounts | sort -r
}

remove_work() {
    local dir=$1 m
    for m in $(mounts_below "$dir"); do umount "$m" 2>/dev/null || umount -l "$m"; done
    [ -z "$(mounts_below "$dir")" ] || { echo "left $dir in place: still mounted below" >&2; return; }
    rm -rf --one-file-system "$dir"
}

# A run killed by the test timeout cannot clean up after itself; the next
# one does, for every work folder whose run is gone. Under the cache's lock,
# so that a folder is never taken for stale before its run wrote its pid.
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
for old in "$(dirname "$cache")"/work.*; do
    [ -d "$old" ] || continue
    pid=$(cat "$old/pid" 2>/dev/null || echo 0)
    [ "$pid" -gt 0 ] && kill -0 "$pid" 2>/dev/null && continue
    echo "removing $old, left by an earlier run"
    remove_work "$old"
done

work=$(mktemp -d "$(dirname "$cache")/work.XXXXXX")
echo $$ >"$work/pid"
flock -u 9

cleanup() {
    local status=$?
    set +e
    [ -z "${endpoint:-}" ] || { kill -KILL "$endpoint"; wait "$endpoint"; } 2>/dev/null
    remove_work "$work"
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

run_logged() {
    local log=$1
    shift
    "$@" >"$log" 2>&1 || { tail -n 40 "$log" >&2; return 1; }
}

# 1. The package, built by CPack from the install rules into a folder of its
#    own so that a "make package" at the same time does not interfere.
step "building the package"
run_logged "$work/cpack.log" \
    "$cpack" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/deb" \
    || fail "cpack could not build the package"
debs=("$work"/deb/roamnode_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one roamnode_*.deb, found: ${debs[*]}"
deb=${debs[0]}
# Depends is proven below: apt installs nothing else, and the endpoint runs with it.
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
outside=$(grep -vE '^\./((usr/(lib/(systemd/)?)?)?|etc/|usr/(bin|share|lib/systemd/system)/.*|etc/roamnode/.*)$' <<<"$contents" || true)
[ -z "$outside" ] || fail "the package installs outside its folders: $outside"
control_files=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
for script in postinst prerm postrm conffiles; do
    grep -qxF "./$script" <<<"$control_files" || fail "the package has no $script"
done

# 2. A minimal Debian root, bootstrapped once per cache folder.
tarball=$cache/$suite-minbase.tar
flock 9
if [ ! -s "$tarball" ]; then
    step "bootstrapping a minimal $suite root from $mirror (once; cached in $cache)"
    if ! run_logged "$work/debootstrap.log" \
        debootstrap --variant=minbase "$suite" "$work/bootstrap" "$mirror"; then
        mirror_reachable || skip "the Debian mirror $mirror went away during debootstrap"
        fail "debootstrap failed"
    fi
    for m in $(mounts_below "$work/bootstrap"); do umount "$m"; done
    rm -f "$work"/bootstrap/var/cache/apt/archives/*.deb
    tar --numeric-owner -C "$work/bootstrap" -cf "$tarball.part" .
    mv "$tarball.part" "$tarball"
    rm -rf --one-file-system "$work/bootstrap"
fi
flock -u 9

step "unpacking a clean root"
root=$work/root
mkdir "$root"
# In memory: unpacking, dpkg's many small writes and the removal at the end
# cost seconds there instead of minutes on disk.
mount -t tmpfs -o size=3g,mode=0755 roamnode-test-root "$root"
tar --numeric-owner -C "$root" -xf "$tarball"
cp -L --remove-destination /etc/resolv.conf "$root/etc/resolv.conf"
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security_mirror $suite-security main
EOF
# Nothing installed here may start a daemon on this machine.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
# The root is thrown away after the run, so dpkg need not sync every file.
echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/roamnode-test-unsafe-io"
# Downloaded package lists and packages are kept for the next run: the root
# starts clean all the same, apt just need not fetch them again.
mkdir -p "$cache/apt-lists" "$cache/apt-archives"
cp -a "$cache/apt-lists/." "$root/var/lib/apt/lists/"
find "$cache/apt-archives" -name '*.deb' -exec cp -t "$root/var/cache/apt/archives/" {} +
keep_downloads() {
    flock 9
    find "$root/var/lib/apt/lists" -maxdepth 1 -type f ! -name lock -exec cp -p -t "$cache/apt-lists" {} +
    find "$root/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -exec cp -p -t "$cache/apt-archives" {} +
    flock -u 9
}
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/"

# A proxy that this machine needs for the mirror is needed inside as well.
in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive ${http_proxy:+"http_proxy=$http_proxy"} \
        ${https_proxy:+"https_proxy=$https_proxy"} ${no_proxy:+"no_proxy=$no_proxy"} "$@"
}

step "installing the package with apt"
if ! run_logged "$work/apt-update.log" in_root apt-get update -q; then
    mirror_reachable || skip "the Debian mirror $mirror went away during apt-get update"
    fail "apt-get update failed in the clean root"
fi
# Without Recommends: a headless server gets only what Depends brings.
run_logged "$work/apt-install.log" \
    in_root apt-get install -y -q --no-install-recommends "/tmp/$(basename "$deb")" \
    || fail "apt-get could not install the package into a clean root"
keep_downloads

# 3. What the user gets.
step "checking the installed files"
[ "$(in_root dpkg-query -W -f='${Status} ${Version}' roamnode)" = "install ok installed $version" ] \
    || fail "dpkg does not list roamnode $version as installed"
for program in $programs; do
    [ -x "$root/usr/bin/$program" ] || fail "/usr/bin/$program is not there"
    page=$(gzip -dc "$root/usr/share/man/man1/$program.1.gz") \
        || fail "/usr/share/man/man1/$program.1.gz is not gzipped"
    grep -q '^\.TH ' <<<"$page" || fail "/usr/share/man/man1/$program.1.gz is not a manual page"
    grep -qF "$version" <<<"$page" || fail "/usr/share/man/man1/$program.1.gz does not carry $version"
done
for unit in roamnode@.service roamnode-hub.service; do
    cmp "$source_dir/packaging/systemd/$unit" "$root/usr/lib/systemd/system/$unit" \
        || fail "the installed $unit differs from packaging/systemd/$unit"
done
for example in "$source_dir"/examples/scenarios/*.json; do
    cmp "$example" "$root/usr/share/roamnode/examples/$(basename "$example")" \
        || fail "example $(basename "$example") was not installed as it is"
done
for path in usr/lib/systemd/system/roamnode-tls@.service usr/share/roamnode/examples/schedule.json \
    etc/roamnode/policy.json etc/roamnode/tls; do
    [ -e "$root/$path" ] || fail "/$path is not there"
done

step "checking the system user"
IFS=: read -r _ _ uid gid _ home shell < <(in_root getent passwd roamnode) \
    || fail "the package made no user roamnode"
[ "$uid" -lt 1000 ] || fail "roamnode is not a system user (uid $uid)"
[ "$home" = /var/lib/roamnode ] || fail "roamnode's home is $home, not /var/lib/roamnode"
[ "$shell" = /usr/sbin/nologin ] || fail "roamnode can log in (shell $shell)"
[ "$(in_root getent group roamnode | cut -d: -f3)" = "$gid" ] || fail "roamnode has no group of its own"

# An endpoint started the way its unit starts it: its own user, its own state
# folder as working directory, home and data folder. Nobody answers on port 1
# of the loopback, so it stays "Contacting"; what matters is that the QML
# modules and the SQLite driver from Depends let it store its identifier.
step "running the installed program"
version_out=$(in_root /usr/bin/roamnode --version 2>&1) || fail "roamnode --version failed: $version_out"
grep -qF "$version" <<<"$version_out" || fail "roamnode --version does not print $version"

step "running a headless endpoint as the unit does"
state=/var/lib/roamnode/127.0.0.1:1
install -d -o "$uid" -g "$gid" -m 0750 "$root$state"
chroot --userspec="$uid:$gid" --groups="$gid" "$root" /usr/bin/env -i PATH=/usr/bin:/bin \
    HOME="$state" XDG_DATA_HOME="$state" XDG_CACHE_HOME="$state/.cache" \
    /bin/sh -c "cd '$state' && exec /usr/bin/roamnode --policy /etc/roamnode/policy.json 127.0.0.1:1" \
    >"$work/endpoint.out" 2>"$work/endpoint.err" &
endpoint=$!
database=
for _ in $(seq 1 100); do
    database=$(find "$root$state" -path '*/QML/OfflineStorage/Databases/*.sqlite' -size +0 2>/dev/null | head -n 1)
    [ -n "$database" ] && grep -q 'Status: Contacting' "$work/endpoint.out" && break
    kill -0 "$endpoint" 2>/dev/null || break
    sleep 0.2
done
kill -TERM "$endpoint" 2>/dev/null || true
# (cleanup() kills it if it does not stop)
timeout 10 tail --pid="$endpoint" -f /dev/null || fail "the endpoint did not stop within 10 s of SIGTERM"
endpoint_status=0
wait "$endpoint" || endpoint_status=$?
endpoint=
echo "endpoint ended with status $endpoint_status; its standard error:"
head -n 20 "$work/endpoint.err"
grep -q 'Status: Contacting' "$work/endpoint.out" || fail "the endpoint never showed its status line"
grep -q '^policy: destinations 10.0.0.0/8 ' "$work/endpoint.out" \
    || fail "the endpoint did not start with the shipped /etc/roamnode/policy.json"
[ -n "$database" ] || fail "the endpoint stored no device identifier below $state"
[ "$endpoint_status" -eq 0 ] || fail "the endpoint did not end cleanly on SIGTERM (status $endpoint_status)"
[ -f "$root$state/pxlog.txt" ] || fail "the endpoint wrote no pxlog.txt into its working directory"
[ "$(stat -c %u "$root$state/pxlog.txt")" = "$uid" ] || fail "pxlog.txt is not owned by roamnode"

# 4. Upgrades keep the user and the state; a purge removes the state.
step "reinstalling"
run_logged "$work/apt-reinstall.log" \
    in_root apt-get install -y -q --reinstall --no-install-recommends "/tmp/$(basename "$deb")" \
    || fail "reinstalling the package failed"
[ "$(in_root getent passwd roamnode | cut -d: -f3)" = "$uid" ] || fail "reinstalling changed the user"
[ -s "$database" ] || fail "reinstalling lost the device identifier"
step "purging"
run_logged "$work/apt-purge.log" in_root apt-get purge -y -q roamnode || fail "purging the package failed"
for path in $(printf 'usr/bin/%s ' $programs) usr/lib/systemd/system/roamnode@.service \
    var/lib/roamnode etc/roamnode/policy.json; do
    [ ! -e "$root/$path" ] || fail "/$path is still there after a purge"
done

echo "packaging: the package installs, runs and purges cleanly in a clean $suite root"
