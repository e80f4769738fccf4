#!/bin/bash
# Stand-in for the privileged setup script in tests and the demo: records
# each call and changes nothing on the machine. PELLUM_STANDIN_LOG names the
# file the calls go to, PELLUM_STANDIN_EXIT the exit code (default 0).
if [ -n "${PELLUM_STANDIN_LOG:-}" ]; then
    printf '%s\n' "$*" >> "$PELLUM_STANDIN_LOG"
fi
exit "${PELLUM_STANDIN_EXIT:-0}"
