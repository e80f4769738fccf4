#!/bin/bash
# The setup script in scratch mode: what it writes, keeps, rolls back and
# refuses. Usage: setupscript.sh <staged script>
set -u
# As root, in a mount namespace of its own with the system folders and the
# service tools replaced: a slip past the scratch tree cannot reach the machine.
if [[ $EUID == 0 && -z ${IN_NS:-} ]]; then
    exec env IN_NS=1 unshare -m bash "$0" "$@"
fi
if [[ -n ${IN_NS:-} ]]; then
    for d in /etc/systemd /var/lib /run /usr/local/bin; do mount -t tmpfs tmpfs "$d" || exit 1; done
    for tool in systemctl timedatectl hwclock; do
        printf '#!/bin/sh\necho "stub %s called" >&2\nexit 1\n' "$tool" >"/usr/local/bin/$tool"
    done
    # date(1) still reads times; setting the clock is refused.
    printf '#!/bin/sh\ncase " $* " in *" -s "*|*" --set"*) echo "stub date -s called" >&2; exit 1;; esac\nexec /usr/bin/date "$@"\n' >/usr/local/bin/date
    chmod +x /usr/local/bin/*
    export PATH=/usr/local/bin:$PATH
fi
script=$1
T=$(mktemp -d) && trap 'rm -rf "$T"' EXIT
R=$T/root
dropin=$R/etc/systemd/timesyncd.conf.d/90-tavrin-pellum.conf
state=$R/var/lib/tavrin-pellum
earlier=$'# the admin\'s own choice\n[Time]\nNTP=ntp.lan.internal'
failed=0
# expect <what> <command...>: counts a failure when the command fails.
expect() { "${@:2}" || { echo "FAIL ${FUNCNAME[1]}: $1"; failed=$((failed + 1)); }; }
run() { env -u PKEXEC_UID -u SUDO_UID TAVRIN_PELLUM_ROOT="$R" TAVRIN_PELLUM_SYNC_WAIT=0 "$script" "$@" 2>"$T/err" </dev/null; }
install_on() { run install -Server "$1"; }
fresh() { rm -rf "$R" && mkdir -p "${dropin%/*}" "$state" && printf '%s\n' "$earlier" >"$dropin"; }
snap() { (cd "$R" && find . -printf '%p %y %m\n' | sort && find . -type f -exec md5sum {} + | sort); }
same() { [[ $(snap) == "$1" ]]; }
has() { grep -qxF -- "$2" "$1" 2>/dev/null; }

keeps_and_restores_earlier_dropin() {
    # Fault: the admin's own drop-in is lost, or our own one is kept as "previous".
    fresh
    install_on 10.0.0.5; expect "install exits 3 without a sync" test $? = 3
    install_on 10.0.0.6; expect "reinstall exits 3" test $? = 3
    expect "drop-in names the server" has "$dropin" NTP=10.0.0.6
    expect "record" test "$(cat "$state/setup.ini")" = $'[General]\nServer=10.0.0.6\nHasPrevious=1'
    expect "earlier drop-in kept" test "$(cat "$state/previous-dropin.conf")" = "$earlier"
    expect "nothing else left" test "$(cd "$R" && find . -type f | sort | xargs)" = "./etc/systemd/timesyncd.conf.d/90-tavrin-pellum.conf ./tavrin-pellum-actions.log ./var/lib/tavrin-pellum/previous-dropin.conf ./var/lib/tavrin-pellum/setup.ini"
    run remove; expect "remove exits 0" test $? = 0
    expect "earlier drop-in back" test "$(cat "$dropin")" = "$earlier"
    expect "state cleared" test -z "$(ls -A "$state")"
}

bad_arguments_change_nothing() {
    # Fault: a malformed request changes the computer or reads as success.
    fresh
    install_on 10.0.0.5; local before args; before=$(snap)
    while IFS= read -r args; do
        eval "run $args"
        expect "$args exits 2" test $? = 2
        expect "$args explains itself" test -s "$T/err"
        expect "$args changes nothing" same "$before"
    done <<'EOF'

uninstall
install -Server
install -Host 10.0.0.5
install -Server 10.0.0.5 extra
install -Server 10.0.0.256
install -Server 010.0.0.5
install -Server 0.0.0.0
install -Server 224.0.0.1
install -Server 240.0.0.1
install -Server 255.255.255.255
install -Server '10.0.0.5;reboot'
remove now
set-time -Time '2026-03-01 08:15:00Z'
set-time -Time 2026-02-30T08:15:00Z
set-time -Time 2026-03-01T24:00:00Z
EOF
}

failures_roll_back() {
    # Fault: a failed or interrupted install leaves half a set-up or a misleading exit code.
    fresh
    install_on 10.0.0.5
    rm "$state/setup.ini" && mkdir "$state/setup.ini" && local before && before=$(snap)
    install_on 10.0.0.6; expect "blocked record exits 5" test $? = 5
    expect "blocked record changes nothing" same "$before"
    fresh
    before=$(snap)
    mkdir "$T/bin" && printf '#!/bin/bash\n[[ $* == *setup.ini* ]] && kill -TERM $PPID\nexec /bin/mv "$@"\n' >"$T/bin/mv" && chmod +x "$T/bin/mv"
    PATH=$T/bin:$PATH install_on 10.0.0.5; expect "killed install exits 5" test $? = 5
    expect "killed install changes nothing" same "$before"
}

seam_refused_as_root() {
    # Fault: the scratch root steers what root writes.
    fresh && local before && before=$(snap)
    if [[ $EUID == 0 ]]; then
        PKEXEC_UID=1000 TAVRIN_PELLUM_ROOT=$R "$script" install -Server 10.0.0.5 2>/dev/null
        expect "through pkexec exits 2" test $? = 2
        SUDO_UID=1000 TAVRIN_PELLUM_ROOT=$R "$script" remove 2>/dev/null
        expect "through sudo exits 2" test $? = 2
        expect "refusal changes nothing" same "$before"
    fi
    rm -r "$R/var/lib" && mkdir "$T/elsewhere" && ln -s "$T/elsewhere" "$R/var/lib"
    install_on 10.0.0.5; expect "symlink refused" test $? = 5
    expect "nothing written through it" test -z "$(ls -A "$T/elsewhere")"
    rm "$R/var/lib" && printf 'x\n' >"$T/elsewhere/log" && ln -sf "$T/elsewhere/log" "$R/tavrin-pellum-actions.log"
    run set-time -Time 2026-03-01T08:15:00Z; expect "log symlink refused" test $? = 5
    expect "log target untouched" test "$(cat "$T/elsewhere/log")" = x
}

lost_record() {
    # Fault: a lost record pins the computer to our server for good.
    fresh
    install_on 10.0.0.5
    rm "$state/setup.ini" # killed between the drop-in and the record
    install_on 10.0.0.6
    expect "our drop-in never becomes the earlier one" test "$(cat "$state/previous-dropin.conf")" = "$earlier"
    rm -r "$state"
    run remove; expect "remove without a record exits 0" test $? = 0
    expect "our drop-in removed" test ! -e "$dropin"
    expect "service restarted" has "$R/tavrin-pellum-actions.log" "restart systemd-timesyncd.service"
}

for t in keeps_and_restores_earlier_dropin bad_arguments_change_nothing failures_roll_back seam_refused_as_root lost_record; do "$t"; done
echo "$failed failed"
((failed == 0))
