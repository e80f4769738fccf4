#!/bin/bash
# installer.sh <tools/build-installer>, run by wine-session.sh: the installer
# built from the package ($PELLUM_PACKAGE) installs silently into Program
# Files with its Start menu entry, the program starts from there, and the
# silent uninstaller leaves none of the files behind.
set -u
build_installer=$1
command -v xdotool >/dev/null || { echo "installer.sh: xdotool missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
package=$work/package installer=$work/tavrin-pellum-setup.exe
dest="$C/Program Files/Tavrin Pellum"
link="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/Tavrin Pellum.lnk"
fail() { echo "installer.sh: $*" >&2; exit 1; }

unzip -q "$PELLUM_PACKAGE" -d "$package" || fail "package not unpacked"
"$build_installer" "$package" "$installer" >/dev/null || fail "the installer did not build"
# A run that failed earlier may have left its install behind.
rm -rf -- "$dest" "$link"
"$WINE" "$installer" /S || fail "the silent install failed"
"$WINESERVER" -w
(cd "$package" && find . -type f) | while IFS= read -r file; do
    cmp -s "$package/$file" "$dest/$file" || { echo "installer.sh: $file not installed" >&2; exit 1; }
done || exit 1
[[ -f $dest/uninstall.exe && -f $link ]] || fail "no uninstaller or Start menu entry"

"$WINE" 'C:\Program Files\Tavrin Pellum\tavrin-pellum.exe' >/dev/null 2>&1 &
for _ in $(seq 150); do
    xdotool search --onlyvisible --name '^Tavrin Pellum$' >/dev/null 2>&1 && break
    sleep 0.2
done
xdotool search --onlyvisible --name '^Tavrin Pellum$' >/dev/null 2>&1 || fail "the installed program showed no window"
[[ -n ${PELLUM_SCREENSHOT:-} ]] && import -window root "$PELLUM_SCREENSHOT"
"$WINESERVER" -k
wait

"$WINE" 'C:\Program Files\Tavrin Pellum\uninstall.exe' /S || fail "the silent uninstall failed"
# The uninstaller runs from a copy of itself; the wait is for that copy.
"$WINESERVER" -w
[[ ! -e $dest && ! -e $link ]] || fail "left behind: $(cd "$C" && find "Program Files/Tavrin Pellum" "${link#"$C"/}" 2>/dev/null | tr '\n' ' ')"
echo "installer.sh: installed, started and removed"
