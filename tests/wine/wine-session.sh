#!/usr/bin/env bash
# Runs one command in a Wine session of its own: a fresh network namespace
# with only loopback, an Xvfb and a wineserver inside it, and the build's one
# Wine prefix (made on first use, then reused). Everything the session started
# is ended by PID and the namespace removed, also on failure or a signal.
#
#   wine-session.sh <test.exe> [args…]      run a Windows Qt Test program under Wine
#   wine-session.sh --sh <script> [args…]   run a shell script with the session set up
#
# The script sees WINEPREFIX, WINE (the wine64 loader), DISPLAY, WINE_NS (the
# namespace: `ip netns exec "$WINE_NS" …` starts more in it) and C (the
# prefix's drive C). Exit 77 (skipped) without root, ip, wine64 or Xvfb.
#   PELLUM_WINEPREFIX     the prefix (default: wine/prefix under the current folder)
#   PELLUM_NETNS_PREFIX   namespace names start with it (default pwine)
#   PELLUM_XVFB_DISPLAYS  display numbers to try, e.g. "220 221"; default: any free
#   PELLUM_XVFB_SCREEN    the screen, default 1280x800x24
#   PELLUM_WINE_INSTALLED a Qt Test program runs from a copy under Program Files
set -u
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64
if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null || [ ! -x "$wine" ] || ! command -v Xvfb >/dev/null; then
    echo "wine-session: needs root, ip, wine64 and Xvfb" >&2
    exit 77
fi
export WINE=$wine WINESERVER=$wineserver WINEPREFIX=${PELLUM_WINEPREFIX:-$PWD/wine/prefix} WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers: nothing here needs them, and they would ask.
export WINEDLLOVERRIDES="mscoree,mshtml=;${WINEDLLOVERRIDES:-}"
export C=$WINEPREFIX/drive_c
# Test programs find the Qt and mingw DLLs through the search path.
[ -n "${PELLUM_WINE_DLL_DIRS:-}" ] && export WINEPATH="Z:${PELLUM_WINE_DLL_DIRS//:/;Z:}"
WINE_NS=${PELLUM_NETNS_PREFIX:-pwine}-$$-$(od -An -N3 -tx1 /dev/urandom | tr -d ' \n')
export WINE_NS
work=$(mktemp -d)
xvfb=
# Kills what runs in namespace $1 by PID, then removes it.
remove_ns() { local pid; for pid in $(ip netns pids "$1" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done; ip netns del "$1" 2>/dev/null; }

cleanup() {
    trap - EXIT INT TERM HUP
    # The wineserver first, so that it writes the prefix's registry back.
    ip netns exec "$WINE_NS" env WINEPREFIX="$WINEPREFIX" "$wineserver" -k >/dev/null 2>&1
    # Xvfb removes its lock and socket when it is let finish.
    if [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; then
        for _ in $(seq 50); do kill -0 "$xvfb" 2>/dev/null || break; sleep 0.1; done
    fi
    remove_ns "$WINE_NS"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' INT TERM HUP

# Sessions killed outright (a CTest timeout) are cleared by the next one: the
# owner's PID is in the name.
for ns in $(ip netns list | awk '{print $1}' | grep -E "^${WINE_NS%-*-*}-[0-9]+-[0-9a-f]{6}\$"); do
    owner=${ns%-*}
    kill -0 "${owner##*-}" 2>/dev/null || remove_ns "$ns"
done
ip netns add "$WINE_NS" && ip -n "$WINE_NS" link set lo up || exit 1
inside() { ip netns exec "$WINE_NS" "$@"; }

# Xvfb inside the namespace, on the first display it can have; it names the
# display on fd 3 once it listens.
start_xvfb() {
    local n
    for n in ${PELLUM_XVFB_DISPLAYS:-any}; do
        [ "$n" = any ] && n= || n=:$n
        : >"$work/display"
        # Not through inside(): $! must be Xvfb itself. No display: Xvfb picks one.
        # shellcheck disable=SC2086
        ip netns exec "$WINE_NS" Xvfb $n -displayfd 3 -screen 0 "${PELLUM_XVFB_SCREEN:-1280x800x24}" -nolisten tcp 3>"$work/display" 2>/dev/null &
        xvfb=$!
        while kill -0 "$xvfb" 2>/dev/null && [ ! -s "$work/display" ]; do sleep 0.1; done
        [ -s "$work/display" ] && DISPLAY=:$(tr -d '\n' <"$work/display") && return 0
        xvfb=
    done
    return 1
}
start_xvfb || { echo "wine-session: no Xvfb display" >&2; exit 1; }
export DISPLAY

# One prefix per build: made once (about 8 s), with the stand-in PowerShell
# wherever a launch may look for it.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-session: making the Wine prefix $WINEPREFIX" >&2
    { inside "$WINE" wineboot -i >/dev/null 2>&1 && inside "$wineserver" -w; } || { echo "wine-session: wineboot failed" >&2; exit 1; }
fi
# Debian's Wine does not load the fonts of fonts-wine from its own folder, and
# without them the dialog font falls back to a serif; Windows has its own.
[ -f "$C/windows/Fonts/tahoma.ttf" ] || cp /usr/share/wine/fonts/*.ttf "$C/windows/Fonts/" 2>/dev/null
standin=${PELLUM_STANDIN_POWERSHELL:-}
if [ -n "$standin" ]; then
    for dir in "$C/windows/system32" "$C/windows/system32/WindowsPowerShell/v1.0"; do
        cmp -s "$standin" "$dir/powershell.exe" || cp "$standin" "$dir/powershell.exe"
    done
    export WINEDLLOVERRIDES="powershell.exe=n;$WINEDLLOVERRIDES"
fi

if [ "${1:-}" = --sh ]; then
    shift
    inside bash "$@"
else
    # PELLUM_WINE_INSTALLED=1: the program runs from a folder under Program
    # Files that only administrators can change, as an installed one would,
    # wherever the build lies (a build under /tmp is open to every user).
    if [ -n "${PELLUM_WINE_INSTALLED:-}" ]; then
        installed="$C/Program Files/Tavrin Pellum tests"
        mkdir -p "$installed" && chmod 755 "$C/Program Files" "$installed" || exit 1
        cp "$1" "$installed/" && chmod 755 "$installed/$(basename "$1")" || exit 1
        set -- "$installed/$(basename "$1")" "${@:2}"
    fi
    # A Qt Test program: Wine does not pass its standard output on, so the
    # log goes to a file that is shown afterwards.
    inside "$WINE" "$@" -o "Z:$work/result.txt,txt"
    code=$?
    cat "$work/result.txt" 2>/dev/null || echo "wine-session: $1 exited with $code and wrote no log" >&2
    exit "$code"
fi
