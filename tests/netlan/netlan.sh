#!/usr/bin/env bash
# Builds a throw-away LAN out of network namespaces for end-to-end tests:
# one bridge namespace, one client namespace and N server namespaces, all
# joined by veth pairs on a bridge that itself lives inside the bridge
# namespace. Nothing is ever created in, or attached to, the machine's own
# network namespace.
#
#   netlan.sh up <N>                build a LAN, print its description
#   netlan.sh down <id>             remove a LAN (all of it)
#   netlan.sh run <N> -- cmd…       build, run cmd with NETLAN_* set, remove
#   netlan.sh gc                    remove LANs whose owner process is gone
#
# See README.md beside this file for the variables printed / exported.

set -u

NETLAN_STATE_DIR=${NETLAN_STATE_DIR:-/run/pellum-netlan}
NETLAN_SUBNET_BASE=${NETLAN_SUBNET_BASE:-198.18.0}
NETLAN_PREFIX=24
NETLAN_IFACE=eth0
NETLAN_MAX_SERVERS=200

die() { echo "netlan: $*" >&2; exit 2; }

need_root() {
    if [ "$(id -u)" != 0 ]; then
        echo "netlan: needs root (ip netns)" >&2
        exit 77
    fi
    command -v ip >/dev/null 2>&1 || { echo "netlan: 'ip' not found" >&2; exit 77; }
}

new_id() {
    local hex
    hex=$(od -An -N4 -tx1 /dev/urandom | tr -d ' \n')
    echo "pl${hex}"
}

client_addr() { echo "${NETLAN_SUBNET_BASE}.2"; }
server_addr() { echo "${NETLAN_SUBNET_BASE}.$((10 + $1))"; }
broadcast_addr() { echo "${NETLAN_SUBNET_BASE}.255"; }

# Joins namespace $2 to the bridge of LAN $1 as port $3 with address $4.
attach() {
    local id=$1 ns=$2 port=$3 addr=$4
    local br="${id}-br"
    ip netns add "$ns" || return 1
    ip -n "$ns" link set lo up || return 1
    # IPv4 only: no link-local IPv6 chatter, simpler interface lists.
    ip netns exec "$ns" sh -c 'echo 1 >/proc/sys/net/ipv6/conf/all/disable_ipv6;
        echo 1 >/proc/sys/net/ipv6/conf/default/disable_ipv6;
        echo 0 >/proc/sys/net/ipv4/icmp_echo_ignore_broadcasts' >/dev/null 2>&1
    # Both ends are created inside the bridge namespace; the peer is moved
    # straight into the target namespace, so neither ever touches the host.
    ip -n "$br" link add "$port" type veth peer name "$NETLAN_IFACE" netns "$ns" || return 1
    ip -n "$br" link set "$port" master br0 || return 1
    ip -n "$br" link set "$port" up || return 1
    ip -n "$ns" addr add "${addr}/${NETLAN_PREFIX}" broadcast "$(broadcast_addr)" dev "$NETLAN_IFACE" || return 1
    ip -n "$ns" link set "$NETLAN_IFACE" up || return 1
    # The limited broadcast needs a route of its own: with no default route
    # a send to 255.255.255.255 would fail with "network unreachable".
    ip -n "$ns" route add 255.255.255.255/32 dev "$NETLAN_IFACE" || return 1
}

describe() {
    local id=$1 n=$2 i ns_list="" addr_list=""
    echo "NETLAN_ID=${id}"
    echo "NETLAN_BRIDGE_NS=${id}-br"
    echo "NETLAN_IFACE=${NETLAN_IFACE}"
    echo "NETLAN_PREFIX=${NETLAN_PREFIX}"
    echo "NETLAN_BROADCAST=$(broadcast_addr)"
    echo "NETLAN_CLIENT_NS=${id}-c"
    echo "NETLAN_CLIENT_ADDR=$(client_addr)"
    echo "NETLAN_SERVERS=${n}"
    for ((i = 1; i <= n; i++)); do
        echo "NETLAN_SERVER_NS_${i}=${id}-s${i}"
        echo "NETLAN_SERVER_ADDR_${i}=$(server_addr "$i")"
        ns_list="${ns_list}${ns_list:+ }${id}-s${i}"
        addr_list="${addr_list}${addr_list:+ }$(server_addr "$i")"
    done
    echo "NETLAN_SERVER_NS_LIST='${ns_list}'"
    echo "NETLAN_SERVER_ADDR_LIST='${addr_list}'"
}

namespaces_of() {
    local id=$1
    ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^${id}-(br|c|s[0-9]+)\$"
}

do_down() {
    local id=$1 ns
    [[ "$id" =~ ^pl[0-9a-f]{8}$ ]] || die "not a LAN id: $id"
    # Servers and client first, the bridge last: deleting a namespace
    # destroys its veth end, and with it the bridge port.
    for ns in $(namespaces_of "$id" | grep -v -- '-br$'); do
        ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null
        ip netns del "$ns" 2>/dev/null
    done
    if namespaces_of "$id" | grep -q -- '-br$'; then
        ip netns del "${id}-br" 2>/dev/null
    fi
    rm -rf "${NETLAN_STATE_DIR:?}/${id}"
    ! namespaces_of "$id" | grep -q .
}

do_check() {
    local id=$1 ns route
    for ns in $(namespaces_of "$id" | grep -v -- '-br$'); do
        route=$(ip -n "$ns" route get 255.255.255.255 2>&1) || { echo "netlan: $ns: no route to 255.255.255.255" >&2; return 1; }
        case "$route" in
            *"dev ${NETLAN_IFACE}"*) ;;
            *) echo "netlan: $ns: limited broadcast not on ${NETLAN_IFACE}: $route" >&2; return 1 ;;
        esac
        route=$(ip -n "$ns" route get "$(broadcast_addr)" 2>&1) || { echo "netlan: $ns: no route to $(broadcast_addr)" >&2; return 1; }
        case "$route" in
            broadcast*) ;;
            *) echo "netlan: $ns: subnet broadcast not a broadcast route: $route" >&2; return 1 ;;
        esac
        ip -n "$ns" -o link show lo | grep -q 'UP' || { echo "netlan: $ns: loopback down" >&2; return 1; }
    done
    return 0
}

# Builds LAN $1 with $2 servers. Owner pid in $3.
build() {
    local id=$1 n=$2 owner=$3 i
    mkdir -p "${NETLAN_STATE_DIR}/${id}" || return 1
    echo "$owner" >"${NETLAN_STATE_DIR}/${id}/owner"
    ip netns add "${id}-br" || return 1
    ip -n "${id}-br" link set lo up || return 1
    ip netns exec "${id}-br" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 >/dev/null 2>&1
    ip -n "${id}-br" link add br0 type bridge stp_state 0 forward_delay 0 || return 1
    ip -n "${id}-br" link set br0 up || return 1
    attach "$id" "${id}-c" vc "$(client_addr)" || return 1
    for ((i = 1; i <= n; i++)); do
        attach "$id" "${id}-s${i}" "vs${i}" "$(server_addr "$i")" || return 1
    done
    do_check "$id" || return 1
    describe "$id" "$n" >"${NETLAN_STATE_DIR}/${id}/env"
}

parse_up_args() {
    UP_N=${1:-}
    [[ "$UP_N" =~ ^[0-9]+$ ]] || die "server count expected, got '${UP_N}'"
    [ "$UP_N" -le "$NETLAN_MAX_SERVERS" ] || die "at most ${NETLAN_MAX_SERVERS} servers"
    shift
    UP_REST=()
    if [ $# -gt 0 ]; then
        [ "$1" = -- ] || die "unknown option: $1"
        shift
        UP_REST=("$@")
    fi
}

do_gc() {
    local dir id owner
    [ -d "$NETLAN_STATE_DIR" ] || return 0
    for dir in "$NETLAN_STATE_DIR"/pl*; do
        [ -d "$dir" ] || continue
        id=${dir##*/}
        owner=$(cat "$dir/owner" 2>/dev/null || echo "")
        if [ -z "$owner" ] || ! kill -0 "$owner" 2>/dev/null; then
            do_down "$id" >/dev/null 2>&1
        fi
    done
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
    up)
        need_root
        parse_up_args "$@"
        do_gc
        id=$(new_id)
        # The caller owns the LAN; `gc` removes it once the caller is gone.
        if ! build "$id" "$UP_N" "${NETLAN_OWNER_PID:-$PPID}"; then
            do_down "$id" >/dev/null 2>&1
            die "could not build the LAN"
        fi
        cat "${NETLAN_STATE_DIR}/${id}/env"
        ;;
    down)
        need_root
        [ $# -eq 1 ] || die "usage: netlan.sh down <id>"
        do_down "$1" || die "could not remove all of $1"
        ;;
    gc)
        need_root
        do_gc
        ;;
    run)
        need_root
        parse_up_args "$@"
        [ ${#UP_REST[@]} -gt 0 ] || die "usage: netlan.sh run <N> -- command..."
        do_gc
        id=$(new_id)
        cleanup() { do_down "$id" >/dev/null 2>&1; }
        trap cleanup EXIT
        trap 'exit 130' INT
        trap 'exit 143' TERM
        trap 'exit 129' HUP
        if ! build "$id" "$UP_N" "$$"; then
            echo "netlan: could not build the LAN" >&2
            exit 2
        fi
        set -a
        # shellcheck disable=SC1090
        . "${NETLAN_STATE_DIR}/${id}/env"
        set +a
        export NETLAN_SCRIPT="$(readlink -f "$0")"
        # Run in the background and wait, so a signal to this script is
        # handled at once (the trap fires, the LAN goes) and the command
        # is told to stop too.
        "${UP_REST[@]}" &
        child=$!
        trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; exit 130' INT
        trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; exit 143' TERM
        trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; exit 129' HUP
        wait "$child"
        exit $?
        ;;
    *)
        sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
        [ -z "$cmd" ] || [ "$cmd" = help ] || [ "$cmd" = -h ] || exit 2
        ;;
esac
