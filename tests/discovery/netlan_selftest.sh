#!/usr/bin/env bash
# Checks the test LAN helper: what it builds, that its routes carry both
# broadcasts, and that every way out removes every namespace.
set -u
netlan=$1
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
count() { ip netns list | awk '{print $1}' | grep -c "^$1-" ; }

out=$("$netlan" up 2 --logger) || fail "up failed"
eval "$out"
[ "$NETLAN_SERVERS" = 2 ] || fail "server count"
[ "$(count "$NETLAN_ID")" = 5 ] || fail "expected 5 namespaces"
[ "$NETLAN_SERVER_ADDR_LIST" = "198.18.0.11 198.18.0.12" ] || fail "address list"
"$netlan" check "$NETLAN_ID" || fail "check"
for ns in "$NETLAN_CLIENT_NS" $NETLAN_SERVER_NS_LIST "$NETLAN_LOGGER_NS"; do
    ip -n "$ns" route get 255.255.255.255 | grep -q "^broadcast .* dev eth0" || fail "$ns: limited broadcast"
    ip -n "$ns" route get "$NETLAN_BROADCAST" | grep -q "^broadcast" || fail "$ns: subnet broadcast"
done
# Nothing of it in this namespace.
ip -o link | grep -q "$NETLAN_ID" && fail "host interfaces touched"
"$netlan" down "$NETLAN_ID" || fail "down"
[ "$(count "$NETLAN_ID")" = 0 ] || fail "namespaces left after down"

# Two LANs at once do not clash.
a=$("$netlan" up 1 | sed -n 's/^NETLAN_ID=//p')
b=$("$netlan" up 1 | sed -n 's/^NETLAN_ID=//p')
[ -n "$a" ] && [ -n "$b" ] && [ "$a" != "$b" ] || fail "ids"
"$netlan" down "$a"; "$netlan" down "$b"

# run: exit code passed on, LAN gone afterwards.
"$netlan" run 1 -- sh -c 'echo "$NETLAN_ID" >"$0"; exit 7' /tmp/netlan-selftest.$$
rc=$?
id=$(cat /tmp/netlan-selftest.$$); rm -f /tmp/netlan-selftest.$$
[ "$rc" = 7 ] || fail "run exit code $rc"
[ "$(count "$id")" = 0 ] || fail "namespaces left after run"

# run: a signal still removes the LAN.
"$netlan" run 1 -- sh -c 'echo "$NETLAN_ID" >"$0"; sleep 60' /tmp/netlan-selftest.$$ &
pid=$!
for _ in $(seq 100); do [ -s /tmp/netlan-selftest.$$ ] && break; sleep 0.1; done
id=$(cat /tmp/netlan-selftest.$$); rm -f /tmp/netlan-selftest.$$
kill -TERM "$pid"; wait "$pid"
[ -n "$id" ] && [ "$(count "$id")" = 0 ] || fail "namespaces left after SIGTERM"

"$netlan" up x >/dev/null 2>&1 && fail "bad count accepted"
echo "netlan self-test passed"
