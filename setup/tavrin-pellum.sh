#!/bin/bash
echo "not ready" >&2
exit 1
