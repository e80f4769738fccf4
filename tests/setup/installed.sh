#!/bin/bash
# Installs the build into a scratch DESTDIR and checks what polkit and the
# font licence need there. Usage: installed.sh <build dir>
set -u
D=$(mktemp -d) && trap 'rm -rf "$D"' EXIT
# Fault: the action is invalid, or names a helper the install does not carry.
DESTDIR=$D cmake --install "$1" >/dev/null || exit 1
action=$(find "$D" -path '*/share/polkit-1/actions/com.tavrin.pellum.setup.policy')
xmllint --noout --nonet --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd "$action" || exit 1
# Fault: a step within minutes of another ran without asking.
[[ $(xmllint --xpath 'count(//defaults/*[. != "auth_admin"])' "$action") == 0 ]] || { echo "a default does not ask each time"; exit 1; }
helper=$(xmllint --xpath 'string(//annotate[@key="org.freedesktop.policykit.exec.path"])' "$action")
[[ $helper == /* && -x $D$helper && ! -L $D$helper ]] || { echo "exec path $helper is not installed"; exit 1; }
grep -q 'Copyright' "$D${helper%/libexec/*}"/share/doc/tavrin-pellum/*LICENSE* || { echo "no font licence"; exit 1; }
echo "installed action and helper check out"
