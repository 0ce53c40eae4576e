#!/bin/sh
# Prints the ids of the current user's running processes whose name is $1, one per line, and
# nothing at all when there are none. Standard input is never read.
#
# The kernel keeps only the first 15 bytes of a process name, so a name of 15 bytes or more is
# matched on those and then confirmed by the file name of the process's executable (or of its
# first argument when the executable cannot be read).

# Bytes, not characters: the kernel cuts names by bytes.
LC_ALL=C
export LC_ALL

name=$1
[ -n "$name" ] || exit 0

# The real user id of this shell, read from its own status without starting a program.
uid=
while read -r key value _; do
    if [ "$key" = "Uid:" ]; then
        uid=$value
        break
    fi
done < "/proc/$$/status"
[ -n "$uid" ] || exit 0

# Without the first 15 bytes, "rest" differs from the name exactly when it is that long.
rest=${name#???????????????}
short=$name
if [ "$rest" != "$name" ]; then
    short=${name%"$rest"}
fi

# Ids are separated by line ends; the last one has none, so one id reads as exactly one line.
separator=
for dir in /proc/[0-9]*; do
    # A process may end at any moment: whatever cannot be read any more is passed over.
    comm=
    { IFS= read -r comm < "$dir/comm"; } 2>/dev/null || continue
    [ "$comm" = "$short" ] || continue

    state=
    owner=
    {
        while read -r key value _; do
            case $key in
            State:) state=$value ;;
            Uid:) owner=$value && break ;;
            esac
        done < "$dir/status"
    } 2>/dev/null
    [ "$owner" = "$uid" ] || continue
    # A zombie has ended already; it only waits for its parent to collect it. Its main thread
    # may end before the others, though, and the program runs until the last one has.
    if [ "$state" = Z ]; then
        alive=
        for task in "$dir"/task/*; do
            tstate=
            {
                while read -r key value _; do
                    [ "$key" = "State:" ] && tstate=$value && break
                done < "$task/status"
            } 2>/dev/null
            case $tstate in
            Z | X | '') ;;
            *) alive=1 ;;
            esac
        done
        [ -n "$alive" ] || continue
    fi

    if [ "$rest" != "$name" ]; then
        exe=$(readlink "$dir/exe" 2>/dev/null)
        exe=${exe% (deleted)}
        if [ "${exe##*/}" != "$name" ]; then
            first=$(tr '\000' '\n' < "$dir/cmdline" 2>/dev/null | head -n 1)
            [ "${first##*/}" = "$name" ] || continue
        fi
    fi
    printf '%s%s' "$separator" "${dir#/proc/}"
    separator='
'
done
