#!/bin/sh
# Makes the Wine prefix that every test shares and starts one server for all
# of them. A server started by a test's own program would write its complaints
# (about watches it has already dropped, say) into that program's standard
# error, which the system tests check, and would end a few seconds after its
# last client, only to be started again by the next test. This one writes to a
# log of its own and lasts until the fixture's cleanup stops it. So does every
# Windows service that the prefix starts, and they all write to the log: CTest
# waits for the last holder of a test's output to let go of it.
# Usage: wine_prefix.sh WINE_LOADER, with WINEPREFIX set.
set -e
mkdir -p "$WINEPREFIX"
log=$WINEPREFIX/server.log
# Status 2: a server for this prefix is already running (left by a run that
# was cut short); it serves as well.
wineserver -p </dev/null >>"$log" 2>&1 || [ $? -eq 2 ]
exec "$1" wineboot --init </dev/null >>"$log" 2>&1
