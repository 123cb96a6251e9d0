#!/usr/bin/env bash
# Installs and starts the stand-in drivers in the project's prefix (start),
# says whether the running ones are the build's (check), or stops and deletes
# them (stop).  ./tarn starts them when a session starts; the session's end
# (its wineserver's) stops them.
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

# What a driver's service was created from: its file and its settings.  A
# service created from the same is started as it is; anything else is made
# again, so the next session runs what the build holds.
identity_of() {
    local name="$1" sys="$2"
    printf '%s %s pairs=%s first=%s' "$sys" "$(stat -c '%s %Y' "$sys")" \
        "${TARN_NULLMODEM_PAIRS:-}" "${TARN_NULLMODEM_FIRST_PORT:-}"
}

create() {
    local name="$1" sys="$2"
    wine sc stop "$name" >/dev/null 2>&1
    wine sc delete "$name" >/dev/null 2>&1
    wine sc create "$name" type= kernel start= demand binPath= "$(windows_path "$sys")" >/dev/null \
        || { echo "standins: cannot create $name" >&2; return 1; }
    configure "$name"
}

start_one() {
    local name="$1" sys="$2" stamp="$WINEPREFIX/.tarn-service-$1" identity
    identity="$(identity_of "$name" "$sys")"
    if [ "$(cat "$stamp" 2>/dev/null)" = "$identity" ] && wine sc start "$name" >/dev/null 2>&1; then
        return 0
    fi
    rm -f "$stamp"
    create "$name" "$sys" || return 1
    wine sc start "$name" >/dev/null || { echo "standins: cannot start $name" >&2; return 1; }
    printf '%s\n' "$identity" > "$stamp"
}

# Both drivers start at once: each start is a Wine process of its own.
start() {
    local entry name sys pids=() rc=0 pid
    for entry in "${DRIVERS[@]}"; do
        name="${entry%%:*}"; sys="$TARN_BUILD/x64/bin/${entry#*:}"
        [ -f "$sys" ] || continue
        start_one "$name" "$sys" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || rc=1; done
    return $rc
}

# Said when a command joins a running session: the stand-ins keep running
# what they started with, so that the session's other commands keep their state.
check() {
    local entry name sys
    for entry in "${DRIVERS[@]}"; do
        name="${entry%%:*}"; sys="$TARN_BUILD/x64/bin/${entry#*:}"
        [ -f "$sys" ] || continue
        [ "$(cat "$WINEPREFIX/.tarn-service-$name" 2>/dev/null)" = "$(identity_of "$name" "$sys")" ] ||
            echo "standins: $name runs an older build or other settings than $sys; the next session starts the new one" >&2
    done
}

# Stops and deletes the services (their settings go with them).
stop() {
    local entry name
    for entry in "${DRIVERS[@]}"; do
        name="${entry%%:*}"
        wine sc stop "$name" >/dev/null 2>&1
        wine sc delete "$name" >/dev/null 2>&1
        rm -f "$WINEPREFIX/.tarn-service-$name"
    done
    return 0
}

case "${1:-}" in
    start) start ;;
    check) check ;;
    stop) stop ;;
    *) echo "usage: $0 start|check|stop" >&2; exit 2 ;;
esac
