#!/bin/sh
# The Wine session of one test run, in the prefix $WINEPREFIX.
#   start  creates the prefix if needed and keeps one wineserver up for every test, so that a
#          test program starts in a fraction of a second instead of booting Wine's services anew
#   stop   ends that wineserver and every Wine process of the prefix, so none outlives the run
set -eu
case ${1:-} in
    start)
        mkdir -p "$WINEPREFIX"
        # Fails only when a server of this prefix is already up, e.g. after an interrupted run.
        wineserver -p 2>/dev/null || true
        wineboot -i
        ;;
    stop)
        wineserver -k 2>/dev/null || true
        ;;
    *)
        echo "usage: $0 start|stop" >&2
        exit 2
        ;;
esac
