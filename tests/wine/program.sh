#!/usr/bin/env bash
# The package as a user meets it, under Wine (run by wine-session.sh): unzipped
# into C:\Program Files\Tavrin Pellum, set up for the test server on
# 127.0.0.1 and watching, it shows its window, reports "sync", registers the
# Run value, and a second launch hands over to it and exits 0.
# PELLUM_WINE_SCREENSHOT, when set, names a PNG of the screen to write.
set -u
server=$PELLUM_HOST_BUILD/tools/testserver/pellum-test-server
close=$PELLUM_HOST_BUILD/tests/e2e/pellum-x11-close
[ -x "$server" ] || { echo "program.sh: no Linux test server in $PELLUM_HOST_BUILD (build it first)"; exit 77; }
for tool in xdotool unzip import; do
    command -v "$tool" >/dev/null || { echo "program.sh: $tool missing"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# until_true <seconds> cmd…: polls cmd every 0.2 s.
until_true() { local i n=$(($1 * 5)); shift; for ((i = 0; i < n; i++)); do "$@" && return 0; sleep 0.2; done; return 1; }
visible() { xdotool search --onlyvisible --name '^Tavrin Pellum$' 2>/dev/null | head -n 1; }
shown() { [ -n "$(visible)" ]; }
hidden() { [ -z "$(visible)" ]; }
instances() {
    local pid n=0
    for pid in $(ip netns pids "$WINE_NS"); do
        tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q 'tavrin-pellum\.exe' && n=$((n + 1))
    done
    echo "$n"
}

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
start=$(date +%s%N)
timeout 30 "$WINE" "$exe"
code=$?
echo "second launch exited $code after $((($(date +%s%N) - start) / 1000000)) ms"
[ "$code" = 0 ] || fail "second launch exited $code"
until_true 10 shown || fail "the first instance did not come forward"
[ "$(instances)" = 1 ] || fail "$(instances) instances running"
echo "PASS"
