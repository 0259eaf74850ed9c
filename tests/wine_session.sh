#!/bin/sh
# Starts (start) or ends (stop) the one wineserver that the Windows tests of a
# run share, in the WINEPREFIX the environment names. A persistent server
# spares every wine start the seconds of bringing one up; the prefix is made
# on the first start and kept in the build tree.
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
case "${1:-}" in
  start)
    mkdir -p "$WINEPREFIX"
    # The server and the services wine starts outlive this script: they must
    # not hold its output open, or whoever reads that output waits for them.
    wineserver -p </dev/null >/dev/null 2>&1
    # Creates the prefix when it is new; a no-op run otherwise.
    wine cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
