#!/bin/sh
# The Wine session of one test run, in the prefix $WINEPREFIX.
#   start  creates the prefix if needed and keeps one wineserver up for all tests, so that a
#          test program starts in a fraction of a second instead of booting Wine's services anew
#   stop   ends that wineserver and every Wine process of the prefix, so none outlives the run
# The server and the services that wineboot leaves running must not hold the test's output
# open (ctest would wait for them), so their output goes to a log in the prefix.
set -eu
case ${1:-} in
    start)
        mkdir -p "$WINEPREFIX"
        log=$WINEPREFIX/session.log
        # The server outlives idle gaps between tests, yet ends by itself a minute after an
        # interrupted run. Starting it fails only when one for this prefix is already up.
        wineserver -p60 </dev/null >"$log" 2>&1 || true
        # Also on a prefix from an earlier run: this brings up the services that every Wine
        # program needs, here, where their output cannot hold a test's output open.
        if ! wineboot -i </dev/null >>"$log" 2>&1; then
            cat "$log"
            exit 1
        fi
        ;;
    stop)
        wineserver -k 2>/dev/null || true
        ;;
    *)
        echo "usage: $0 start|stop" >&2
        exit 2
        ;;
esac
