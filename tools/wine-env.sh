# Sourced by ./tarn and the test wrappers: the project's private Wine prefix.
: "${TARN_ROOT:?}" "${TARN_BUILD:?}"
export WINEPREFIX="$TARN_BUILD/wineprefix"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installation dialogs; nothing here needs them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
