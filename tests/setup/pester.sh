#!/bin/bash
# The Windows setup script's Pester tests, run by a real PowerShell in a
# network namespace that has nothing but its loopback: test servers answer
# SNTP on 127.0.0.1 (normally) and 127.0.0.2 (never). The namespace ends with
# the last process in it, whatever happens.
# Usage: pester.sh <pwsh> <Pester.psd1> <pellum-test-server> <tests.ps1>
set -u
if [[ ${1:-} != --inside ]]; then
    [[ $EUID == 0 ]] || { echo "a private network namespace needs root"; exit 77; }
    for tool in "$1" "$2"; do [[ -e $tool ]] || { echo "$tool missing: run tools/install-deps"; exit 1; }; done
    exec unshare -n -- bash "$0" --inside "$@"
fi
shift
pwsh=$1 pester=$2 server=$3 tests=$4
T=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait; rm -rf "$T"' EXIT
ip link set lo up || exit 1
for listener in 127.0.0.1/normal 127.0.0.2/silent; do
    set -- "${listener%/*}" "${listener#*/}"
    "$server" --listen "$1" --ntp-port 123 --sntp "$2" --no-broadcast --tavr-port 0 >"$T/$1.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do grep -q '^ready' "$T/$1.out" && break; sleep 0.1; done
    grep -q '^ready' "$T/$1.out" || { echo "test server on $1 did not start:"; cat "$T/$1.out"; exit 1; }
done
PELLUM_PWSH=$pwsh "$pwsh" -NoProfile -NonInteractive -Command "
    Import-Module '$pester'
    \$config = New-PesterConfiguration
    \$config.Run.Path = '$tests'
    \$config.Run.Exit = \$true
    \$config.Output.Verbosity = 'Detailed'
    Invoke-Pester -Configuration \$config"
