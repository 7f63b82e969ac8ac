#!/usr/bin/env bash
# Runs a Windows program under Wine for ctest. Its output goes through a file:
# Wine's helper processes inherit the program's handles and may outlive it,
# which would keep a pipe open and ctest waiting.
out=$(mktemp)
wine "$@" >"$out" 2>&1 </dev/null
status=$?
cat "$out"
rm -f "$out"
exit $status
