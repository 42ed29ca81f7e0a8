#!/bin/sh
# Runs one Windows test program under Wine for CTest. Its output goes through a file:
# Wine services that the program starts inherit its standard handles and outlive it, and
# on a pipe they would hold CTest until its timeout.
# Usage: run-test.sh WINE PROGRAM [ARGS...]
wine="$1"; shift
log=$(mktemp)
"$wine" "$@" >"$log" 2>&1 </dev/null
rc=$?
cat "$log"
rm -f "$log"
exit $rc
