#!/bin/bash
# The script against a real systemd-timesyncd, in private mount, network and
# pid namespaces with tmpfs over the system folders. The service runs as its
# own user with an empty capability bounding set, so it can never set the
# real clock; the time server (offset 0) listens on 127.0.0.2 inside.
# Usage: timesyncd.sh <helper> <pellum-test-server> [<keeping test>]
set -u
[[ $EUID == 0 ]] || { echo "needs root for the namespaces"; exit 77; }
[[ -n ${IN_NS:-} ]] || exec env IN_NS=1 timeout 200 unshare -m -n -p -f --kill-child --mount-proc bash "$0" "$@"
helper=$1
export T=/run/pellum-test
ip link set lo up || exit 1
for d in /etc/systemd /var/lib /run; do mount -t tmpfs -o mode=755 tmpfs "$d" || exit 1; done
mkdir -p /var/lib/systemd/timesync /run/systemd/timesync /run/dbus "$T/bin"
chown systemd-timesync: /var/lib/systemd/timesync /run/systemd/timesync
# Without our drop-in it falls back to an address nobody answers on.
printf '[Time]\nFallbackNTP=127.0.0.3\n' >/etc/systemd/timesyncd.conf
dbus-daemon --system --fork --nopidfile || exit 1
"$2" --listen 127.0.0.2 --tavr-port 0 --sntp-log "$T/sntp.log" >"$T/server.log" 2>&1 &
for _ in $(seq 50); do grep -q ready "$T/server.log" && break; sleep 0.1; done

# systemctl restart (re)starts the real service; it refuses to unless its
# bounding set is empty, which leaves it no capability after exec.
cat >"$T/bin/systemctl" <<'EOF'
#!/bin/bash
echo "$*" >>"$T/calls"
[[ $1 == restart ]] || exit 0
[[ -e $T/fail-restart ]] && rm "$T/fail-restart" && exit 1
[[ -e $T/pid ]] && kill "$(cat "$T/pid")" && for _ in $(seq 50); do kill -0 "$(cat "$T/pid")" 2>/dev/null || break; sleep 0.1; done
SYSTEMD_LOG_LEVEL=debug setpriv --reuid=systemd-timesync --regid=systemd-timesync --clear-groups \
    --inh-caps=-all --bounding-set=-all --no-new-privs \
    bash -c 'grep -Eq "^CapBnd:\s+0+$" /proc/$$/status && exec /usr/lib/systemd/systemd-timesyncd' >"$T/ts.log" 2>&1 &
echo $! >"$T/pid"
EOF
printf '#!/bin/sh\n[ "$1" = show ] && echo yes\nexit 0\n' >"$T/bin/timedatectl"
chmod +x "$T/bin/systemctl" "$T/bin/timedatectl"
failed=0
expect() { "${@:2}" || { echo "FAIL: $1"; failed=$((failed + 1)); }; }
run() { env -u TAVRIN_PELLUM_ROOT -u PKEXEC_UID -u SUDO_UID PATH="$T/bin:$PATH" TAVRIN_PELLUM_SYNC_WAIT=20 "$helper" "$@"; }
prop() { busctl get-property org.freedesktop.timesync1 /org/freedesktop/timesync1 org.freedesktop.timesync1.Manager "$1" 2>/dev/null; }
settle() { for _ in $(seq 100); do [[ $(prop ServerName) == "$1" ]] && return; sleep 0.1; done; false; }

# Fault: a restart that fails during install leaves the service stopped.
touch "$T/fail-restart"
run install -Server 127.0.0.2; expect "failed restart exits 5" test $? = 5
expect "service restarted after the rollback" test "$(grep -c restart "$T/calls")" = 2
expect "rolled back to the fallback" settle 's "127.0.0.3"'

# Fault: the drop-in is not what the real service loads (server, poll interval).
run install -Server 127.0.0.2; expect "install syncs with the real service" test $? = 0
expect "no capability at all" grep -Eq '^CapEff:\s+0+$' "/proc/$(cat "$T/pid")/status"
expect "asks the chosen server" settle 's "127.0.0.2"'
expect "server asked" test -s "$T/sntp.log"
expect "polls at most every 1800 s" test "$(prop PollIntervalMaxUSec)" = "t 1800000000"
expect "clock left alone" grep -q 'clock_adjtime.*not permitted' "$T/ts.log"

# The window against the service: its last sync, then stopped, then pointed
# elsewhere (tst_keepingservice). A 16 s poll keeps the waits short.
if [[ -n ${3:-} ]]; then
    printf '[Time]\nPollIntervalMinSec=16\nPollIntervalMaxSec=16\n' >/etc/systemd/timesyncd.conf.d/zz-poll.conf
    "$2" --listen 127.0.0.3 --tavr-port 0 >"$T/other.log" 2>&1 &
    PATH="$T/bin:$PATH" systemctl restart
    expect "the window follows the service" env QT_QPA_PLATFORM=offscreen "$3"
    rm -f /etc/systemd/timesyncd.conf.d/zz-poll.conf
fi

# Fault: after removal the service still asks our server.
asked=$(wc -l <"$T/sntp.log")
run remove; expect "remove exits 0" test $? = 0
expect "back on the fallback" settle 's "127.0.0.3"'
sleep 1
expect "our server no longer asked" test "$(wc -l <"$T/sntp.log")" = "$asked"
echo "$failed failed"
((failed == 0))
