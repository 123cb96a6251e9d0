#!/usr/bin/env bash
# Installs and starts the stand-in drivers in the project's prefix (start), or
# stops and deletes them (stop).  Called by ./tarn around every session.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export TARN_ROOT="${TARN_ROOT:-$(dirname "$here")}"
export TARN_BUILD="${TARN_BUILD:-$TARN_ROOT/build}"
. "$TARN_ROOT/tools/wine-env.sh"

# service name : driver file in $TARN_BUILD/bin
DRIVERS=("TarnNullModem:tarn_nullmodem.sys" "TarnUsbStandin:tarn_usb.sys")

start() {
    local entry name sys
    for entry in "${DRIVERS[@]}"; do
        name="${entry%%:*}"; sys="$TARN_BUILD/bin/${entry#*:}"
        [ -f "$sys" ] || continue
        wine sc stop "$name" >/dev/null 2>&1
        wine sc delete "$name" >/dev/null 2>&1
        wine sc create "$name" type= kernel start= demand binPath= "$(winepath -w "$sys")" >/dev/null \
            || { echo "standins: cannot create $name" >&2; return 1; }
        wine sc start "$name" >/dev/null || { echo "standins: cannot start $name" >&2; return 1; }
    done
}

stop() {
    local entry name
    for entry in "${DRIVERS[@]}"; do
        name="${entry%%:*}"
        wine sc stop "$name" >/dev/null 2>&1
        wine sc delete "$name" >/dev/null 2>&1
    done
    return 0
}

case "${1:-}" in
    start) start ;;
    stop) stop ;;
    *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
