#!/bin/bash
# Privileged set-up of this computer's time sync with a Tavrin server, run by
# Tavrin Pellum through pkexec (or directly when it already runs as root).
# Installed root-owned under libexec/tavrin-pellum/; the polkit action
# com.tavrin.pellum.setup names it.
#
#   tavrin-pellum.sh install -Server <IPv4 address>
#   tavrin-pellum.sh remove
#   tavrin-pellum.sh sync
#   tavrin-pellum.sh set-time -Time <yyyy-MM-ddTHH:mm:ssZ>
#
# Exit codes:
#   0  done
#   2  bad command or arguments (nothing changed)
#   3  done, but the time server did not answer (install, sync)
#   4  needs root (nothing changed)
#   5  changing the settings failed; the earlier settings are back in place
#   6  systemd-timesyncd is not available (nothing changed)
#   7  sync asked for while this computer is not set up
#   8  setting the clock failed
# Nothing else: a fault inside the script exits 5 after the same rollback, so
# it never reads as pkexec's 126 or 127 (a declined prompt).
#
# systemd-timesyncd is pointed at the server through a drop-in of our own,
# known by its first line even when the record is lost. Any other drop-in
# found at that path before the first install is kept and put back on
# removal. The record the program reads back is an INI file with "Server"
# and "HasPrevious".
#
# Environment:
#   TAVRIN_PELLUM_ROOT       absolute path prefixed to every system path. When
#                            set, no service is touched and the clock is not
#                            set: the actions are appended to
#                            <root>/tavrin-pellum-actions.log instead, and a
#                            sync counts as answered when
#                            <root>/run/systemd/timesync/synchronized exists.
#                            It needs no root and is refused when root runs
#                            the script on a user's behalf (pkexec, sudo).
#   TAVRIN_PELLUM_SYNC_WAIT  seconds to wait for a sync (0-600, default 30).

set -u
umask 022

readonly EXIT_USAGE=2
readonly EXIT_NO_ANSWER=3
readonly EXIT_NEEDS_ROOT=4
readonly EXIT_CHANGE_FAILED=5
readonly EXIT_NO_SERVICE=6
readonly EXIT_NOT_SET_UP=7
readonly EXIT_CLOCK_FAILED=8

readonly SERVICE=systemd-timesyncd.service

me=$(basename -- "$0")

fail() {
    local code=$1
    shift
    printf '%s: %s\n' "$me" "$*" >&2
    exit "$code"
}

usage() {
    fail "$EXIT_USAGE" "$* (usage: $me install -Server <IPv4> | remove | sync | set-time -Time <yyyy-MM-ddTHH:mm:ssZ>)"
}

# Any exit that is not one of ours (a fault, a signal) rolls back and exits 5.
# shellcheck disable=SC2317  # run by the EXIT trap
on_exit() {
    local code=$?
    case $code in
    0 | [2-8]) return ;;
    esac
    trap - EXIT
    declare -F roll_back >/dev/null && roll_back
    printf '%s: unexpected failure (%s); the earlier settings are back in place\n' "$me" "$code" >&2
    exit "$EXIT_CHANGE_FAILED"
}
trap on_exit EXIT
trap 'exit 129' HUP INT TERM

# --- environment -----------------------------------------------------------

ROOT=${TAVRIN_PELLUM_ROOT:-}
while [[ $ROOT == */ ]]; do ROOT=${ROOT%/}; done
if [[ -n ${TAVRIN_PELLUM_ROOT:-} ]]; then
    [[ $TAVRIN_PELLUM_ROOT == /* ]] || usage "TAVRIN_PELLUM_ROOT must be an absolute path"
    # A folder the caller chose must never steer what root writes.
    if [[ $EUID == 0 && ( -n ${PKEXEC_UID+x} || -n ${SUDO_UID+x} ) ]]; then
        usage "TAVRIN_PELLUM_ROOT is refused when run through pkexec or sudo"
    fi
    SIMULATED=1
else
    SIMULATED=0
fi

SYNC_WAIT=${TAVRIN_PELLUM_SYNC_WAIT:-30}
if ! [[ $SYNC_WAIT =~ ^[0-9]{1,3}$ ]] || ((10#$SYNC_WAIT > 600)); then
    usage "TAVRIN_PELLUM_SYNC_WAIT must be a whole number of seconds from 0 to 600"
fi
SYNC_WAIT=$((10#$SYNC_WAIT))

readonly DROPIN_DIR=$ROOT/etc/systemd/timesyncd.conf.d
readonly DROPIN=$DROPIN_DIR/90-tavrin-pellum.conf
readonly STATE_DIR=$ROOT/var/lib/tavrin-pellum
readonly RECORD=$STATE_DIR/setup.ini
readonly PREVIOUS=$STATE_DIR/previous-dropin.conf
readonly PREVIOUS_NTP=$STATE_DIR/previous-ntp
readonly SYNCED_FLAG=$ROOT/run/systemd/timesync/synchronized
readonly ACTIONS_LOG=$ROOT/tavrin-pellum-actions.log
readonly HEADER='# Written by Tavrin Pellum; removed again by its "remove" step.'

# --- argument checks -------------------------------------------------------

# One unicast IPv4 address: not 0.0.0.0/8, multicast 224.0.0.0/4, the
# reserved 240.0.0.0/4 or the broadcast, none of which can be one time server.
is_ipv4() {
    local IFS=. octet
    local -a parts
    [[ $1 =~ ^[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}$ ]] || return 1
    read -r -a parts <<<"$1"
    for octet in "${parts[@]}"; do
        # No leading zeros: 010 would mean 8 to some resolvers and 10 to others.
        [[ $octet == 0 || $octet != 0* ]] || return 1
        ((10#$octet <= 255)) || return 1
    done
    ((parts[0] != 0 && parts[0] < 224))
}

# Prints the time as date(1) takes it, or fails for anything that is not a
# real UTC moment in the one accepted form.
parse_utc_time() {
    local text=$1 spaced normal
    [[ $text =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$ ]] || return 1
    spaced="${text:0:10} ${text:11:8}"
    normal=$(LC_ALL=C date -u -d "$spaced UTC" +%Y-%m-%dT%H:%M:%SZ 2>/dev/null) || return 1
    # date(1) rolls 24:00:00 or 23:59:60 over; only exact round trips count.
    [[ $normal == "$text" ]] || return 1
    printf '%s\n' "$spaced"
}

# Every path we write or delete, with the folders on the way, must be what it
# says: a planted symlink would carry our writes somewhere else.
refuse_symlinks() {
    local path walk part
    local -a parts
    for path in "$DROPIN" "$RECORD" "$PREVIOUS" "$PREVIOUS_NTP" "$SYNCED_FLAG" "$ACTIONS_LOG"; do
        IFS=/ read -r -a parts <<<"${path#"$ROOT"/}"
        walk=$ROOT
        for part in "${parts[@]}"; do
            walk=$walk/$part
            [[ -L $walk ]] && fail "$EXIT_CHANGE_FAILED" "refusing to write through the symbolic link $walk"
        done
    done
    return 0
}

# True when the drop-in is the one we wrote.
dropin_is_ours() {
    local first
    [[ -f $DROPIN ]] && IFS= read -r first <"$DROPIN" && [[ $first == "$HEADER" ]]
}

# --- system actions (recorded instead of done when simulated) ---------------

record_action() {
    printf '%s\n' "$*" >>"$ACTIONS_LOG"
}

require_root() {
    ((SIMULATED)) && return 0
    [[ $(id -u) == 0 ]] || fail "$EXIT_NEEDS_ROOT" "this step needs root"
}

require_service() {
    ((SIMULATED)) && return 0
    systemctl cat "$SERVICE" >/dev/null 2>&1 \
        || fail "$EXIT_NO_SERVICE" "$SERVICE is not installed (apt-get install systemd-timesyncd)"
}

ntp_enabled() {
    if ((SIMULATED)); then
        echo yes
    else
        timedatectl show -p NTP --value 2>/dev/null || echo yes
    fi
}

set_ntp() {
    if ((SIMULATED)); then
        record_action "set-ntp $1"
    else
        timedatectl set-ntp "$1"
    fi
}

restart_service() {
    if ((SIMULATED)); then
        record_action "restart $SERVICE"
    else
        # Forget the last sync so only a fresh one counts as an answer.
        rm -f -- "$SYNCED_FLAG"
        systemctl restart "$SERVICE"
    fi
}

# 0 when the service reports a sync within SYNC_WAIT seconds, 1 otherwise.
wait_for_sync() {
    local waited=0
    while true; do
        [[ -e $SYNCED_FLAG ]] && return 0
        ((waited >= SYNC_WAIT)) && return 1
        sleep 1
        waited=$((waited + 1))
    done
}

set_clock() {
    if ((SIMULATED)); then
        record_action "set-time ${1/ /T}Z"
    else
        date -u -s "$1 UTC" >/dev/null
    fi
}

# --- keeping the earlier state while changing files --------------------------

BACKUP=
backup_state() {
    local name
    mkdir -p -- "$STATE_DIR" "$DROPIN_DIR" || return 1
    BACKUP=$(mktemp -d -- "$STATE_DIR/.txn.XXXXXX") || return 1
    for name in DROPIN RECORD PREVIOUS PREVIOUS_NTP; do
        if [[ -f ${!name} ]]; then
            cp -p -- "${!name}" "$BACKUP/$name" || return 1
        fi
    done
}

# Puts every kept file back exactly as it was, removing what was not there.
restore_state() {
    local name
    [[ -n $BACKUP && -d $BACKUP ]] || return 0
    for name in DROPIN RECORD PREVIOUS PREVIOUS_NTP; do
        if [[ -e $BACKUP/$name ]]; then
            if ! copy_atomically "$BACKUP/$name" "${!name}"; then
                printf '%s: could not put back %s\n' "$me" "${!name}" >&2
            fi
        elif [[ -f ${!name} ]]; then
            rm -f -- "${!name}"
        fi
    done
    drop_backup
}

drop_backup() {
    [[ -n $BACKUP ]] && rm -rf -- "$BACKUP"
    BACKUP=
}

# The change stands: nothing is to be rolled back from here on.
commit_changes() {
    drop_backup
    NTP_BEFORE=
    RESTARTED=0
}

# Writes stdin to a file in one step, so readers never see half of it.
write_atomically() {
    local target=$1 tmp
    tmp=$(mktemp -- "$target.XXXXXX") || return 1
    if ! cat >"$tmp" || ! chmod 644 -- "$tmp" || ! mv -f -T -- "$tmp" "$target"; then
        rm -f -- "$tmp"
        return 1
    fi
}

copy_atomically() {
    write_atomically "$2" <"$1"
}

# Network time as it was before install switched it on, and whether the
# service was restarted, for a rollback.
NTP_BEFORE=
RESTARTED=0
roll_back() {
    restore_state
    if [[ $NTP_BEFORE == no ]]; then
        set_ntp false || printf '%s: could not switch network time off again\n' "$me" >&2
    elif ((RESTARTED)); then
        # A restart that failed halfway leaves the service stopped.
        RESTARTED=0
        restart_service || printf '%s: could not restart %s\n' "$me" "$SERVICE" >&2
    fi
}

rollback_and_fail() {
    roll_back
    fail "$EXIT_CHANGE_FAILED" "$* (the earlier settings are back in place)"
}

# --- commands ----------------------------------------------------------------

do_install() {
    local server=$1 has_previous=0 ntp

    require_root
    refuse_symlinks
    require_service
    backup_state || rollback_and_fail "could not prepare $STATE_DIR"

    if [[ ! -f $RECORD ]] && dropin_is_ours; then
        # The record of an earlier install is lost: what it kept stays kept.
        if [[ ! -f $PREVIOUS_NTP ]] && ((SIMULATED == 0)); then
            ntp_enabled | write_atomically "$PREVIOUS_NTP" || rollback_and_fail "could not keep the earlier sync state"
        fi
    elif [[ ! -f $RECORD ]]; then
        # First install: whatever sits at our drop-in path is the earlier setting.
        if [[ -f $DROPIN ]]; then
            copy_atomically "$DROPIN" "$PREVIOUS" || rollback_and_fail "could not keep the earlier drop-in"
        else
            rm -f -- "$PREVIOUS" || rollback_and_fail "could not clear $PREVIOUS"
        fi
        ntp=$(ntp_enabled)
        if ((SIMULATED == 0)); then
            printf '%s\n' "$ntp" | write_atomically "$PREVIOUS_NTP" \
                || rollback_and_fail "could not keep the earlier sync state"
        fi
    fi
    [[ -f $PREVIOUS ]] && has_previous=1

    write_atomically "$DROPIN" <<EOF || rollback_and_fail "could not write $DROPIN"
$HEADER
[Time]
NTP=
NTP=$server
FallbackNTP=
PollIntervalMinSec=1800
PollIntervalMaxSec=1800
EOF

    write_atomically "$RECORD" <<EOF || rollback_and_fail "could not write $RECORD"
[General]
Server=$server
HasPrevious=$has_previous
EOF

    NTP_BEFORE=$(ntp_enabled)
    set_ntp true || rollback_and_fail "could not enable network time"
    RESTARTED=1
    restart_service || rollback_and_fail "could not restart $SERVICE"
    commit_changes

    wait_for_sync || exit "$EXIT_NO_ANSWER"
    exit 0
}

do_remove() {
    local previous_ntp=yes

    require_root
    refuse_symlinks
    if [[ ! -e $RECORD ]] && ! dropin_is_ours; then
        # Not set up: nothing of ours to undo.
        exit 0
    fi
    backup_state || rollback_and_fail "could not prepare $STATE_DIR"

    if [[ -f $PREVIOUS ]]; then
        copy_atomically "$PREVIOUS" "$DROPIN" || rollback_and_fail "could not restore the earlier drop-in"
    else
        rm -f -- "$DROPIN" || rollback_and_fail "could not remove $DROPIN"
    fi
    [[ -f $PREVIOUS_NTP ]] && previous_ntp=$(<"$PREVIOUS_NTP")
    rm -rf -- "$RECORD" "$PREVIOUS" "$PREVIOUS_NTP" || rollback_and_fail "could not remove the record"
    drop_backup

    # The files are back; a service that will not restart picks them up at boot.
    if ((SIMULATED == 0)) && ! systemctl cat "$SERVICE" >/dev/null 2>&1; then
        exit 0
    fi
    if [[ $previous_ntp == no ]]; then
        set_ntp false || printf '%s: could not switch network time off again\n' "$me" >&2
    else
        restart_service || printf '%s: could not restart %s\n' "$me" "$SERVICE" >&2
    fi
    exit 0
}

do_sync() {
    require_root
    refuse_symlinks
    [[ -f $RECORD ]] || fail "$EXIT_NOT_SET_UP" "this computer is not set up to sync with a Tavrin server"
    require_service
    restart_service || fail "$EXIT_CHANGE_FAILED" "could not restart $SERVICE"
    wait_for_sync || exit "$EXIT_NO_ANSWER"
    exit 0
}

do_set_time() {
    local moment=$1
    require_root
    refuse_symlinks
    set_clock "$moment" || fail "$EXIT_CLOCK_FAILED" "could not set the clock"
    exit 0
}

# --- command line ------------------------------------------------------------

(($# >= 1)) || usage "no command given"
command=$1
shift
case $command in
install)
    { (($# == 2)) && [[ $1 == -Server ]]; } || usage "install takes -Server <IPv4 address>"
    is_ipv4 "$2" || usage "not the IPv4 address of one time server: '$2'"
    do_install "$2"
    ;;
remove)
    (($# == 0)) || usage "remove takes no arguments"
    do_remove
    ;;
sync)
    (($# == 0)) || usage "sync takes no arguments"
    do_sync
    ;;
set-time)
    { (($# == 2)) && [[ $1 == -Time ]]; } || usage "set-time takes -Time <yyyy-MM-ddTHH:mm:ssZ>"
    moment=$(parse_utc_time "$2") || usage "not a UTC time of the form 2026-03-01T08:15:00Z: '$2'"
    do_set_time "$moment"
    ;;
*)
    usage "unknown command '$command'"
    ;;
esac
