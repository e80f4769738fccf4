#!/bin/bash
# installer.sh <tools/build-installer>, run by wine-session.sh: the installer
# written beside the package ($PELLUM_PACKAGE), and one built from an older
# version of it with a file of its own. Over a running program neither the upgrade nor the
# uninstall changes anything and both fail; once it has quit, the upgrade
# leaves only the new version's files, in Program Files whatever /D= says,
# the program starts from there, and the uninstall leaves nothing behind.
set -u
build_installer=$1
command -v xdotool >/dev/null || { echo "installer.sh: xdotool missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
new=$work/new old=$work/old
dest="$C/Program Files/Tavrin Pellum"
exe='C:\Program Files\Tavrin Pellum\tavrin-pellum.exe'
uninstaller='C:\Program Files\Tavrin Pellum\uninstall.exe'
link="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/Tavrin Pellum.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavrin Pellum'
fail() { echo "installer.sh: $*" >&2; exit 1; }
value() { "$WINE" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v v="$1" '$1 == v { print $3 }'; }
# xdotool has been seen to hang on the display's socket: a bounded look.
shown() { timeout 5 xdotool search --onlyvisible --name '^Tavrin Pellum$' >/dev/null 2>&1; }
# Starts the installed program and waits for its window.
start_program() {
    # A lock left by a killed instance would look held by whoever has its PID now.
    rm -f "$C"/users/*/Temp/com.tavrin.pellum.app.instance.*.lock
    "$WINE" "$exe" >/dev/null 2>&1 &
    for _ in $(seq 150); do shown && return 0; sleep 0.2; done
    fail "the installed program showed no window"
}
stop_program() { "$WINESERVER" -k; wait; }
# Every file of folder $1 is installed as it is there.
installed_as() {
    (cd "$1" && find . -type f) | while IFS= read -r file; do
        cmp -s "$1/$file" "$dest/$file" || { echo "installer.sh: $file not as in $1" >&2; exit 1; }
    done
}

unzip -q "$PELLUM_PACKAGE" -d "$new" || fail "package not unpacked"
cp -a "$new" "$old"
echo "shipped by the older version only" >"$old/old-only.txt"
echo "# the older script" >>"$old/tavrin-pellum.ps1"
"$build_installer" "$old" "$work/tavrin-pellum-old-setup.exe" 1.6.0 >/dev/null || fail "the older installer did not build"
cp "${PELLUM_PACKAGE%.zip}-setup.exe" "$work/tavrin-pellum-setup.exe" || fail "no installer beside the package"
version=$(sed -n 's/^project(TavrinPellum VERSION \([0-9.]*\).*/\1/p' "$(dirname "$build_installer")/../CMakeLists.txt")
# The installer's own version resource carries the project's version.
python3 -c 'import sys; d = open(sys.argv[1], "rb").read()
sys.exit(not all(t.encode("utf-16-le") in d for t in ("ProductVersion", sys.argv[2])))' "$work/tavrin-pellum-setup.exe" "$version" \
    || fail "no ProductVersion $version in the installer's version resource"

# A run that failed earlier may have left its install behind.
rm -rf -- "$dest" "$link"
"$WINE" reg delete "$key" /f >/dev/null 2>&1
"$WINE" "$work/tavrin-pellum-old-setup.exe" /S || fail "the silent install of the older version failed"
[[ -f $dest/old-only.txt && $(value DisplayVersion) == 1.6.0 ]] || fail "the older version is not installed"

start_program
"$WINE" "$work/tavrin-pellum-setup.exe" /S
code=$?
[[ $code == 3 ]] || fail "the upgrade over the running program exited $code, not 3"
installed_as "$old" && [[ $(value DisplayVersion) == 1.6.0 ]] || fail "the refused upgrade changed the install"
# In place (_?=, unquoted: the rest of the line), so that the exit code is
# the uninstaller's own, not that of the copy it would start.
"$WINE" "$uninstaller" /S '_?=C:\Program' 'Files\Tavrin' Pellum
code=$?
[[ $code == 3 ]] || fail "the uninstall of the running program exited $code, not 3"
installed_as "$old" && [[ -n $(value DisplayName) ]] || fail "the refused uninstall removed something"
stop_program

"$WINE" "$work/tavrin-pellum-setup.exe" /S '/D=C:\Users\Public\Pellum' || fail "the silent upgrade failed"
[[ ! -e "$C/Users/Public/Pellum" ]] || fail "/D= moved the program out of Program Files"
installed_as "$new" || exit 1
[[ ! -e $dest/old-only.txt ]] || fail "the older version's own file survived the upgrade"
[[ $(value DisplayVersion) == "$version" && $(value EstimatedSize) == 0x* ]] \
    || fail "uninstall entry: version $(value DisplayVersion), size $(value EstimatedSize)"
[[ -f $dest/uninstall.exe && -f $link ]] || fail "no uninstaller or Start menu entry"

start_program
[[ -n ${PELLUM_SCREENSHOT:-} ]] && import -window root "$PELLUM_SCREENSHOT"
stop_program

"$WINE" "$uninstaller" /S || fail "the silent uninstall failed"
# The uninstaller runs from a copy of itself; the wait is for that copy.
"$WINESERVER" -w
[[ ! -e $dest && ! -e $link && -z $(value DisplayName) ]] \
    || fail "left behind: $(cd "$C" && find "Program Files/Tavrin Pellum" "${link#"$C"/}" 2>/dev/null | tr '\n' ' ')"
echo "installer.sh: refused while running, upgraded, started and removed"
