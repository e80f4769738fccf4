#!/usr/bin/env bash
# The package as a user meets it, under Wine (run by wine-session.sh): unzipped
# into C:\Program Files\Tavrin Pellum, set up for the test server on
# 127.0.0.1 and watching, it shows its window, reports "sync", registers the
# Run value; hidden, it stays hidden for a pipe client that only reads or
# sends anything but "show\n" (program.sh <pipe-probe.exe>), and a second
# launch hands over to it and exits 0.
# PELLUM_WINE_SCREENSHOT, when set, names a PNG of the screen to write.
set -u
probe=${1:-}
server=$PELLUM_HOST_BUILD/tools/testserver/pellum-test-server
close=$PELLUM_HOST_BUILD/tests/e2e/pellum-x11-close
[ -x "$server" ] || { echo "program.sh: no Linux test server in $PELLUM_HOST_BUILD (build it first)"; exit 77; }
# Only the package itself: no DLL or plugin from the build tree.
unset WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# until_true <seconds> cmd…: polls cmd every 0.2 s.
until_true() { local i n=$(($1 * 5)); shift; for ((i = 0; i < n; i++)); do "$@" && return 0; sleep 0.2; done; return 1; }
visible() { timeout 5 xdotool search --onlyvisible --name '^Tavrin Pellum$' 2>/dev/null | head -n 1; }
shown() { [ -n "$(visible)" ]; }
hidden() { [ -z "$(visible)" ]; }
# The program's processes in this session's namespace.
instances() { for p in $(ip netns pids "$WINE_NS"); do tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null; echo; done | grep -c 'tavrin-pellum\.exe'; }

dir="$C/Program Files/Tavrin Pellum"
exe='C:\Program Files\Tavrin Pellum\tavrin-pellum.exe'
rm -rf "$dir"
unzip -q "$PELLUM_PACKAGE" -d "$dir" || fail "package not unpacked"

# The script's record (64-bit view), watching on, and a start-at-login request
# that the program honours at start with its own path; nothing left from before.
cat >"$work/setup.reg" <<'REG'
Windows Registry Editor Version 5.00

[-HKEY_CURRENT_USER\Software\Quorrel Two]
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run]
"Tavrin Pellum"=-
[HKEY_CURRENT_USER\Software\Quorrel Two\Tavrin Pellum\menuBar]
"watch"="true"
"startAtLoginAfterMove"="true"
[HKEY_LOCAL_MACHINE\Software\Tavrin Pellum]
"Server"="127.0.0.1"
"HasPrevious"=dword:00000000
REG
"$WINE" regedit /S "Z:$work/setup.reg" || fail "registry not prepared"
# The last session's instance was killed and left its lock; the new
# wineserver hands its PID to another process, so the lock would look held.
rm -f "$C"/users/*/Temp/com.tavrin.pellum.app.instance.*.lock

"$server" --listen 127.0.0.1 --report-log "$work/reports" --sntp-log "$work/sntp" >"$work/server.out" 2>&1 &
until_true 15 grep -q ready "$work/server.out" || fail "test server did not start: $(cat "$work/server.out")"

start=$(date +%s%N)
"$WINE" "$exe" >/dev/null 2>&1 &
until_true 60 shown || fail "no window within 60 s"
echo "window shown after $((($(date +%s%N) - start) / 1000000)) ms"
until_true 75 grep -q '"state":"sync"' "$work/reports" || fail "no \"sync\" report: $(tail -c 600 "$work/reports" 2>/dev/null)"
[ -n "${PELLUM_WINE_SCREENSHOT:-}" ] && import -window root "$PELLUM_WINE_SCREENSHOT"

run=$("$WINE" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v 'Tavrin Pellum' 2>/dev/null | tr -d '\r')
[[ $run == *"REG_SZ    \"$exe\" --login"* ]] || fail "Run value: $run"

# Closed while watching, the window hides; a second launch brings it back.
if [ -x "$close" ]; then
    "$close" "$(visible)" >/dev/null
    until_true 10 hidden || fail "the window did not hide on close"
fi
# Only a well-formed request from a second launch brings it forward.
if [ -n "$probe" ] && [ -x "$close" ]; then
    # The pipe is named as the lock beside it: from the user's SID.
    pipe=$(basename "$C"/users/*/Temp/com.tavrin.pellum.app.instance.s-1-5-*.lock .lock)
    for request in read "send show" "send SHOW\\n" "send show\\nshow\\n" "send hello\\n"; do
        # shellcheck disable=SC2086
        "$WINE" "$probe" "$pipe" $request || fail "pipe client ($request) did not reach the pipe $pipe"
    done
    sleep 2.5
    hidden || fail "a pipe client that sent no \"show\\n\" brought the window forward"
fi
# At once: the guard waits at most 2 × 300 ms; the rest is Wine's own start.
timeout 10 "$WINE" "$exe"
code=$?
[ "$code" = 0 ] || fail "second launch exited $code (124: still running after 10 s)"
until_true 10 shown || fail "the first instance did not come forward"
[ "$(instances)" = 1 ] || fail "$(instances) instances running"
echo "PASS"
