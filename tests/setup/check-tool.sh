#!/bin/sh
# check-tool.sh <tool> <command...>: runs the command, or skips (77) when the
# tool is not installed.
tool=$1
shift
if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool is not installed; skipping"
    exit 77
fi
exec "$@"
