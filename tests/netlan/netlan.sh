#!/usr/bin/env bash
# shellcheck disable=SC1090,SC2015  # sourcing our own env file; A && B || C is meant as all-or-fail
# Builds a throw-away LAN out of network namespaces for end-to-end tests: one
# bridge namespace, one client namespace and N server namespaces, joined by veth
# pairs on a bridge inside the bridge namespace. Nothing is ever created in, or
# attached to, the machine's own network namespace.
#
#   netlan.sh up <N>                build a LAN, print its description
#   netlan.sh down <id>             remove a LAN (all of it)
#   netlan.sh run <N> -- cmd…       build, run cmd with NETLAN_* set, remove
#   netlan.sh gc                    remove LANs whose owner process is gone
#
# See README.md beside this file for the variables printed / exported.
set -u
state=${NETLAN_STATE_DIR:-/run/pellum-netlan}
base=${NETLAN_SUBNET_BASE:-198.18.0}

die() { echo "netlan: $*" >&2; exit 2; }
root() { [ "$(id -u)" = 0 ] && command -v ip >/dev/null || { echo "netlan: needs root and ip" >&2; exit 77; }; }
namespaces() { ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^$1-(br|c|s[0-9]+)\$"; }

# Joins namespace $2 to the bridge of LAN $1 as port $3 with address $4.
attach() {
    ip netns add "$2" && ip -n "$2" link set lo up || return 1
    # IPv4 only: no link-local IPv6 chatter, simpler interface lists.
    ip netns exec "$2" sh -c 'echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6; echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6
        echo 0 >/proc/sys/net/ipv4/icmp_echo_ignore_broadcasts' >/dev/null 2>&1
    # Both ends are made inside the bridge namespace and the peer goes straight
    # into the target, so neither ever touches the host. With no default route
    # the limited broadcast needs a route of its own ("network unreachable").
    ip -n "$1-br" link add "$3" type veth peer name eth0 netns "$2" && ip -n "$1-br" link set "$3" master br0 up \
        && ip -n "$2" addr add "$4/24" broadcast "$base.255" dev eth0 && ip -n "$2" link set eth0 up \
        && ip -n "$2" route add 255.255.255.255/32 dev eth0
}

# Builds LAN $1 with $2 servers, owned by process $3; both broadcasts must leave by eth0 everywhere.
build() {
    local i ns
    mkdir -p "$state/$1" && echo "$3" >"$state/$1/owner" && ip netns add "$1-br" && ip -n "$1-br" link set lo up || return 1
    ip netns exec "$1-br" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 >/dev/null 2>&1
    ip -n "$1-br" link add br0 type bridge stp_state 0 forward_delay 0 && ip -n "$1-br" link set br0 up \
        && attach "$1" "$1-c" vc "$base.2" || return 1
    for ((i = 1; i <= $2; i++)); do attach "$1" "$1-s$i" "vs$i" "$base.$((10 + i))" || return 1; done
    for ns in $(namespaces "$1" | grep -v -- '-br$'); do
        [[ $(ip -n "$ns" route get 255.255.255.255 2>&1) == *"dev eth0"* && $(ip -n "$ns" route get "$base.255" 2>&1) == broadcast* ]] \
            || { echo "netlan: $ns: broadcasts not routed on eth0" >&2; return 1; }
    done
    { printf 'NETLAN_%s\n' "ID=$1" "BRIDGE_NS=$1-br" "BROADCAST=$base.255" "CLIENT_NS=$1-c" "CLIENT_ADDR=$base.2" "SERVERS=$2"
      for ((i = 1; i <= $2; i++)); do printf 'NETLAN_SERVER_%s\n' "NS_$i=$1-s$i" "ADDR_$i=$base.$((10 + i))"; done; } >"$state/$1/env"
}

down() {
    [[ $1 =~ ^pl[0-9a-f]{8}$ ]] || die "not a LAN id: $1"
    local ns
    # The bridge last: deleting a namespace destroys its veth end, and with it the bridge port.
    for ns in $(namespaces "$1" | grep -v -- '-br$') "$1-br"; do
        ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null
        ip netns del "$ns" 2>/dev/null
    done
    rm -rf "${state:?}/$1"
    ! namespaces "$1" | grep -q .
}

# Removes every LAN whose owner process is gone (a SIGKILLed test or demo).
gc() {
    local dir owner
    for dir in "$state"/pl*; do
        owner=$(cat "$dir/owner" 2>/dev/null)
        [ -d "$dir" ] && ! { [ -n "$owner" ] && kill -0 "$owner" 2>/dev/null; } && (down "${dir##*/}" >/dev/null 2>&1)
    done
}

# Checks the server count, collects the dead, picks a fresh id.
fresh() {
    [[ $1 =~ ^[0-9]+$ ]] && (($1 <= 200)) || die "a server count up to 200 expected, got '$1'"
    root; gc; id=pl$(od -An -N4 -tx1 /dev/urandom | tr -d ' \n')
}

case ${1:-} in
up)
    [ $# = 2 ] || die "usage: netlan.sh up <N>"
    fresh "$2"
    # The caller owns the LAN; gc removes it once the caller is gone.
    build "$id" "$2" "${NETLAN_OWNER_PID:-$PPID}" || { down "$id" >/dev/null 2>&1; die "could not build the LAN"; }
    cat "$state/$id/env" ;;
down) [ $# = 2 ] || die "usage: netlan.sh down <id>"; root; down "$2" || die "could not remove all of $2" ;;
gc) root; gc ;;
run)
    [ $# -gt 3 ] && [ "$3" = -- ] || die "usage: netlan.sh run <N> -- command..."
    fresh "$2"
    # The LAN goes whatever happens. The command runs in the background so that
    # a signal is handled at once: passed on to the command, then the LAN goes.
    trap 'down "$id" >/dev/null 2>&1' EXIT
    stop() { [ -n "${child:-}" ] && kill -TERM "$child" 2>/dev/null && wait "$child"; exit "$1"; }
    trap 'stop 130' INT; trap 'stop 143' TERM; trap 'stop 129' HUP
    build "$id" "$2" $$ || die "could not build the LAN"
    set -a; . "$state/$id/env"; set +a
    "${@:4}" & child=$!
    wait "$child" ;;
*) sed -n '8,11p' "$0" | cut -c3-; [[ ${1:-help} == help || $1 == -h ]] || exit 2 ;;
esac
