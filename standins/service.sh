#!/usr/bin/env bash
# Installs and starts the stand-in drivers in the project's prefix (start), or
# stops and deletes them (stop).  Called by ./tarn around every session.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export TARN_ROOT="${TARN_ROOT:-$(dirname "$here")}"
export TARN_BUILD="${TARN_BUILD:-$TARN_ROOT/build}"
. "$TARN_ROOT/tools/wine-env.sh"

# service name : driver file in $TARN_BUILD/x64/bin (64-bit Wine loads x64 drivers;
# they serve 32-bit and 64-bit clients alike)
DRIVERS=("TarnNullModem:tarn_nullmodem.sys" "TarnUsbStandin:tarn_usb.sys")

# Optional settings of the null-modem ports, read by the driver when it starts:
#   TARN_NULLMODEM_PAIRS (default 2) and TARN_NULLMODEM_FIRST_PORT (default 21).
configure() {
    local name="$1" key value
    [ "$name" = TarnNullModem ] || return 0
    key='HKLM\System\CurrentControlSet\Services\TarnNullModem\Parameters'
    for value in "PairCount:${TARN_NULLMODEM_PAIRS:-}" "FirstPort:${TARN_NULLMODEM_FIRST_PORT:-}"; do
        [ -n "${value#*:}" ] || continue
        wine reg add "$key" /v "${value%%:*}" /t REG_DWORD /d "${value#*:}" /f >/dev/null \
            || { echo "standins: cannot set ${value%%:*} for $name" >&2; return 1; }
    done
}

start() {
    local entry name sys
    for entry in "${DRIVERS[@]}"; do
        name="${entry%%:*}"; sys="$TARN_BUILD/x64/bin/${entry#*:}"
        [ -f "$sys" ] || continue
        wine sc stop "$name" >/dev/null 2>&1
        wine sc delete "$name" >/dev/null 2>&1
        wine sc create "$name" type= kernel start= demand binPath= "$(winepath -w "$sys")" >/dev/null \
            || { echo "standins: cannot create $name" >&2; return 1; }
        configure "$name" || return 1
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
