#!/usr/bin/env bash
# The test LAN helper: both broadcasts reach every namespace, and every way
# out (down, a failing command, SIGTERM) removes every namespace.
set -u
netlan=$1
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
left() { ip netns list | grep -c "^$1-"; }

eval "$("$netlan" up 2)" || fail "up"
[ "$(left "$NETLAN_ID")" = 4 ] || fail "expected 4 namespaces"
for ns in "$NETLAN_CLIENT_NS" $NETLAN_SERVER_NS_LIST; do
    ip -n "$ns" route get 255.255.255.255 | grep -q "^broadcast .* dev eth0" || fail "$ns: limited broadcast"
    ip -n "$ns" route get "$NETLAN_BROADCAST" | grep -q "^broadcast" || fail "$ns: subnet broadcast"
done
"$netlan" down "$NETLAN_ID" && [ "$(left "$NETLAN_ID")" = 0 ] || fail "namespaces left after down"

mark=$(mktemp)
"$netlan" run 1 -- sh -c 'echo "$NETLAN_ID" >"$0"; exit 7' "$mark"
[ $? = 7 ] && [ "$(left "$(cat "$mark")")" = 0 ] || fail "run: exit code or namespaces left"
: >"$mark"
"$netlan" run 1 -- sh -c 'echo "$NETLAN_ID" >"$0"; sleep 60' "$mark" &
for _ in $(seq 100); do [ -s "$mark" ] && break; sleep 0.1; done
kill -TERM $!; wait $!
[ "$(left "$(cat "$mark")")" = 0 ] || fail "namespaces left after SIGTERM"
rm -f "$mark"
echo "netlan self-test passed"
