#!/bin/sh
# Runs a test program in a process-id namespace of its own where one can be made (as root).
# Its /proc then shows only the test's own processes, so a lookup by name and a stop by id
# never reach a program that another test, or the user, runs; and when the test ends, every
# process it started ends with it. Elsewhere the program runs as it is.
if [ "$(id -u)" -eq 0 ] && unshare --pid --fork --mount-proc true 2>/dev/null; then
    exec unshare --pid --fork --mount-proc --kill-child "$@"
fi
exec "$@"
