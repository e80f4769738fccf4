#!/usr/bin/env bash
# Screenshots of the main window of the real program on a virtual X screen,
# in light and dark, in the states In sync, Clock is off and Clock wrong, and
# the whole of a 1366x768 screen at 150 % scaling with the window on it.
# The program and two test servers ("Atlas", "Lab bench") run on a private
# test LAN (network namespaces); nothing reaches the machine's own network.
#
#   sudo tools/window-screenshots.sh [OUTPUT_DIR]      (default: docs/)
#
# Writes window-<light|dark>-<sync|off|wrong>.png, window-dark-notsetup.png and window-dark-150.png
# (the 1366x768 screen at 150 %, window not set up yet). PELLUM_BUILD names the
# build folder (default: build/ of this checkout); the program and the test
# server must be built there. Needs root, xvfb-run, xwininfo, xdotool and
# ImageMagick's import.

set -u

repo=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
build=${PELLUM_BUILD:-$repo/build}
out=${1:-$repo/docs}
program=$build/app/tavrin-pellum
server_bin=$build/tools/testserver/pellum-test-server
netlan=$repo/tests/netlan/netlan.sh
# Long enough for a probe, a discovery round and a repaint.
settle_s=${PELLUM_SHOT_SETTLE:-8}

if [ "$(id -u)" != 0 ]; then
    echo "window-screenshots: needs root for the test LAN" >&2
    exit 77
fi
for tool in xvfb-run xwininfo xdotool import timeout; do
    command -v "$tool" >/dev/null || { echo "window-screenshots: $tool is missing" >&2; exit 1; }
done
if [ ! -x "$program" ] || [ ! -x "$server_bin" ]; then
    echo "window-screenshots: build tavrin-pellum and pellum-test-server in $build first" >&2
    exit 1
fi
mkdir -p "$out" || exit 1
out=$(cd -- "$out" && pwd)

scratch=$(mktemp -d /tmp/pellum-shots.XXXXXX) || exit 1
lan_id=
server_pids=

# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
    trap - EXIT INT TERM HUP
    stop_servers
    [ -n "$lan_id" ] && bash "$netlan" down "$lan_id" >/dev/null 2>&1
    rm -rf -- "$scratch"
}
# shellcheck disable=SC2317
stop_servers() {
    for pid in $server_pids; do kill "$pid" 2>/dev/null; done
    for pid in $server_pids; do wait "$pid" 2>/dev/null; done
    server_pids=
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

description=$(NETLAN_OWNER_PID=$$ bash "$netlan" up 2) || { echo "window-screenshots: no test LAN" >&2; exit 1; }
eval "$description"
lan_id=$NETLAN_ID
atlas=$NETLAN_SERVER_ADDR_1

# start_server <netns> <addr> <log> <args...>: waits for its "ready" line.
start_server() {
    local ns=$1 addr=$2 log=$3
    shift 3
    ip netns exec "$ns" "$server_bin" --listen "$addr" "$@" >"$log" 2>&1 &
    server_pids="$server_pids $!"
    for _ in $(seq 50); do
        grep -q ready "$log" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "window-screenshots: the test server did not start:" >&2
    cat "$log" >&2
    return 1
}

# shot <theme> <state> [<screen> <scale> <name>]: with a name, the whole
# screen is taken, not only the window.
shot() {
    local theme=$1 state=$2 screen=${3:-1400x1000} scale=${4:-1} name=${5:-} offset=0 last_sync
    local now_ms=$(( $(date +%s%N) / 1000000 ))
    case $state in
        sync) last_sync=$((now_ms - 60000)) ;;
        off) offset=1500; last_sync=$((now_ms - 20 * 60000)) ;;
        # The stored last sync lies ahead of the clock: the clock went back.
        wrong) last_sync=$((now_ms + 45 * 60000)) ;;
        notsetup) last_sync=0 ;;
    esac
    local dir=$scratch/$theme-$state${name:+-$name}
    mkdir -p "$dir"/{home,config/"Quorrel Two",data,cache,tmp,root/var/lib/tavrin-pellum,root/run/systemd/timesync}
    mkdir -m 700 "$dir/runtime"
    touch "$dir/root/run/systemd/timesync/synchronized"
    [ "$state" = notsetup ] ||
        printf '[General]\nServer=%s\nHasPrevious=0\n' "$atlas" >"$dir/root/var/lib/tavrin-pellum/setup.ini"
    printf '[General]\napp.appearance=%s\n\n[clock]\nlastSyncUtcMs=%s\n\n[server]\naddress=%s\nname=Atlas\nsteady=true\n' \
        "$theme" "$last_sync" "$atlas" >"$dir/config/Quorrel Two/Tavrin Pellum.conf"

    start_server "$NETLAN_SERVER_NS_1" "$atlas" "$dir/atlas.log" --name Atlas --id atlas --stratum 1 \
        --offset-ms "$offset" --flags synced,accepting,steady || return 1
    start_server "$NETLAN_SERVER_NS_2" "$NETLAN_SERVER_ADDR_2" "$dir/lab.log" --name "Lab bench" --id lab-bench \
        --stratum 2 --flags synced,accepting || return 1

    # The whole X session lives in the client namespace; bounded by timeout.
    timeout 60 ip netns exec "$NETLAN_CLIENT_NS" env \
        HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/data" \
        XDG_CACHE_HOME="$dir/cache" XDG_RUNTIME_DIR="$dir/runtime" TMPDIR="$dir/tmp" \
        TAVRIN_PELLUM_ROOT="$dir/root" TAVRIN_PELLUM_SYNC_WAIT=2 USERNAME=pellum-shots \
        QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS= QT_SCALE_FACTOR="$scale" \
        xvfb-run -a -s "-screen 0 ${screen}x24 -nolisten tcp" bash -c '
            "$1" >"$2/program.log" 2>&1 &
            pid=$!
            sleep "$4"
            # The clock alert opens by itself when the clock is wrong; move it
            # out of the way of the main window.
            for id in $(xdotool search --onlyvisible --name "clock alert" 2>/dev/null); do
                xdotool windowmove "$id" 700 0
            done
            sleep 1
            id=$(xdotool search --onlyvisible --name "^Tavrin Pellum$" 2>/dev/null | head -n 1)
            ok=1
            if [ -n "$id" ] && [ "$5" = whole ]; then
                import -window root "$3" && ok=0
            elif [ -n "$id" ]; then
                eval "$(xwininfo -id "$id" | awk -F: "
                    /Absolute upper-left X/ {print \"x=\" \$2+0}
                    /Absolute upper-left Y/ {print \"y=\" \$2+0}
                    /Width/ {print \"w=\" \$2+0}
                    /Height/ {print \"h=\" \$2+0}")"
                import -window root -crop "${w}x${h}+${x}+${y}" +repage "$3" && ok=0
            else
                echo "window-screenshots: no main window" >&2
            fi
            kill "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
            exit $ok
        ' bash "$program" "$dir" "$out/${name:-window-$theme-$state}.png" "$settle_s" "${name:+whole}"
    local status=$?
    stop_servers
    [ "$status" = 0 ] || { echo "window-screenshots: $theme/$state failed" >&2; cat "$dir/program.log" >&2; }
    return "$status"
}

failed=0
for theme in light dark; do
    for state in sync off wrong; do
        shot "$theme" "$state" && echo "window-screenshots: $out/window-$theme-$state.png" || failed=1
    done
done
shot dark notsetup && echo "window-screenshots: $out/window-dark-notsetup.png" || failed=1
shot dark notsetup 1366x768 1.5 window-dark-150 && echo "window-screenshots: $out/window-dark-150.png" || failed=1
exit "$failed"
