#!/bin/sh
# How a volume per output is kept by hand today: follow the server's events with pactl and,
# when the default sink changes, mute it and set the volume written down for it.
# Arguments: sink=percent pairs, e.g. phones=75 tv=40.
pactl subscribe | while read -r event; do
    case "$event" in
    *"'change' on server"*)
        sink=$(pactl get-default-sink)
        pactl set-sink-mute "$sink" 1
        for pair in "$@"; do
            if [ "${pair%%=*}" = "$sink" ]; then
                pactl set-sink-volume "$sink" "${pair#*=}%"
                pactl set-sink-mute "$sink" 0
            fi
        done
        ;;
    esac
done
