#!/usr/bin/env bash
# Takes PNG screenshots of the window in its four layouts and on each page (RVP, main, about),
# with the endpoint registered at a roamnode-hub and, on the main page, during a scenario run. Everything runs on this machine: a virtual X
# server (Xvfb), the hub on 127.0.0.1 and the program, driven by xdotool like a person would.
#
# Usage: tools/screenshots/take-screenshots.sh   (or: make screenshots)
# Environment: BUILD_DIR (default build), SCREENSHOT_DIR (default $BUILD_DIR/screenshots).
#
# The window only lets the user type an address, not a port, so the hub must listen on the
# default heartbeat port 9100. The script therefore runs in a network namespace of its own when
# it can (root, unshare), where that port is always free and no traffic leaves the loopback
# interface; otherwise it uses 9100 on the host if it is free, and takes the pages without a
# registered hub if not.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
BUILD_DIR=${BUILD_DIR:-build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$root/$BUILD_DIR" ;; esac
SCREENSHOT_DIR=${SCREENSHOT_DIR:-$BUILD_DIR/screenshots}
export BUILD_DIR SCREENSHOT_DIR

if [ "${ROAMNODE_SCREENSHOTS_INSIDE:-}" != 1 ]; then
    ./scripts/install-deps.sh
    cmake -S . -B "$BUILD_DIR" >/dev/null
    targets=(roamnode)
    [ -f tools/hub/CMakeLists.txt ] && targets+=(roamnode-hub)
    cmake --build "$BUILD_DIR" --target "${targets[@]}" -j 2
    mkdir -p "$SCREENSHOT_DIR"
    export ROAMNODE_SCREENSHOTS_INSIDE=1
    if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
        exec unshare -n bash -c 'ip link set lo up && exec "$0"' "$0"
    fi
    exec "$0"
fi

program="$BUILD_DIR/src/app/roamnode"
hub="$BUILD_DIR/tools/hub/roamnode-hub"
[ -x "$hub" ] || hub=""
[ -x "$program" ] || { echo "roamnode was not built in $BUILD_DIR" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup()
{
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Waits until a command succeeds, at most $1 tenths of a second.
wait_until()
{
    local tries=$1
    shift
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

port_free()
{
    ! (exec 3<>/dev/tcp/127.0.0.1/9100) 2>/dev/null
}

# A display number nobody uses.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1400x1100x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display"
wait_until 100 xdpyinfo || wait_until 100 xdotool getdisplaygeometry

# Every layout gets its own hub run: the endpoint registers (the main page shows "Registered"),
# then the hub arms a loopback scenario whose stream and trigger fill both speed gauges.
frame=$(printf '%02x' $(seq 0 999 | awk '{ print $1 % 256 }') | tr -d '\n')
cat >"$work/speeds.json" <<EOF
{"scenarioid": 1, "duration": 9000000000, "flows": [
 {"id": 2, "flowtype": "triggerv4", "flow": {"srcipv4": "127.0.0.1", "srcport": 40100,
  "dstport": 40101, "latency": {"type": "average", "position": 8, "timeoffset": 0}}},
 {"id": 1, "flowtype": "streamv4", "flow": {"initialtimetowait": 100000000, "srcport": 40100,
  "dstipv4": "127.0.0.1", "dstport": 40101, "interframegap": 200000, "numberofframes": 44000,
  "contentlist": ["$frame"], "timetags": [{"position": 8, "timeoffset": 0}]}}]}
EOF

hub_pid=""
start_hub()
{
    local layout=$1
    hub_pid=""
    [ -n "$hub" ] && port_free || return 0
    "$hub" run "$work/speeds.json" --port 9100 --bind 127.0.0.1 --start-in 3 \
        --register-timeout 60 --out "$work/run-$layout" >"$work/hub-$layout.log" 2>&1 &
    hub_pid=$!
    pids+=($hub_pid)
    wait_until 50 bash -c '(exec 3<>/dev/tcp/127.0.0.1/9100)' || hub_pid=""
}

stop_hub()
{
    [ -n "$hub_pid" ] || return 0
    kill "$hub_pid" 2>/dev/null || true
    wait "$hub_pid" 2>/dev/null || true
    hub_pid=""
}

# The program keeps its address history and device identifier under the data folder: a fresh
# one makes the screenshots the same on every machine.
export XDG_DATA_HOME="$work/data"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
# Xvfb's software OpenGL and Qt Quick's threaded render loop can leave a resized window showing
# its first frame; rendering on the main thread keeps every screenshot current.
export QSG_RENDER_LOOP=basic

shoot()
{
    local window=$1 name=$2
    import -window "$window" "$SCREENSHOT_DIR/$name.png"
    echo "$SCREENSHOT_DIR/$name.png"
}

click_at()
{
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

# layout width height toolbar-fraction
layouts=(
    "phone-portrait 480 800 0.08"
    "tablet-portrait 768 1024 0.05"
    "phone-landscape 800 480 0.10"
    "tablet-landscape 1280 800 0.10"
)

for entry in "${layouts[@]}"; do
    read -r layout width height toolbar <<<"$entry"
    start_hub "$layout"
    [ -n "$hub_pid" ] || echo "No hub on 127.0.0.1:9100: the main page will show 'Contacting'." >&2
    (cd "$work" && exec "$program") >"$work/$layout.log" 2>&1 &
    app=$!
    pids+=($app)
    window=$(xdotool search --sync --name '^Roamnode$' | head -n 1)
    xdotool windowsize --sync "$window" "$width" "$height" 2>/dev/null ||
        xdotool windowsize "$window" "$width" "$height"
    # The page is rebuilt for the new size half a second after the last width change.
    sleep 1.5
    # No window manager runs, so the window gets the keyboard focus explicitly.
    xdotool windowfocus --sync "$window"
    shoot "$window" "$layout-rvp"

    # The address field has the key focus: replace what it holds and press Return.
    xdotool key ctrl+a
    xdotool type --delay 40 "127.0.0.1"
    shoot "$window" "$layout-rvp-typed" >/dev/null
    xdotool key Return
    # Registered after the first good heartbeat (one second apart).
    sleep 3
    shoot "$window" "$layout-main"
    # The hub arms the scenario after identifying the endpoint; two seconds into the run the
    # gauges show the live speeds.
    if [ -n "$hub_pid" ] && wait_until 300 grep -q ' accepted, starts at ' "$work/hub-$layout.log"; then
        sleep 5
        shoot "$window" "$layout-main-running"
    fi

    if [ "$layout" = phone-portrait ]; then
        # "more" at the top right of the data section, below the state bar and the gauges.
        content=$((height - height * 8 / 100 - height * 2 / 100))
        top=$((height * 8 / 100 + content * 57 / 100))
        click_at "$window" $((width - 42)) $((top + 22))
        sleep 1.5
        shoot "$window" "$layout-main-more"
        # "view" on the third row of the expanded section.
        click_at "$window" $((width - 42)) $((height * 8 / 100 + content * 12 / 100 + 138))
        sleep 1
        shoot "$window" "$layout-interfaces"
    fi

    # The info button sits at the right end of the toolbar.
    bar=$(awk -v h="$height" -v f="$toolbar" 'BEGIN { printf "%d", h * f }')
    click_at "$window" $((width - width / 50 - bar / 2)) $((bar / 2))
    # The three link buttons fade in one after another.
    sleep 3
    shoot "$window" "$layout-about"

    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    stop_hub
done

echo "Screenshots in $SCREENSHOT_DIR"
