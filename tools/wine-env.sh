# Sourced by ./tarn and the test wrappers: the project's private Wine prefix,
# and the loaders of the two architectures.
#
#   TARN_BUILD  the build folder: wineprefix/, x86/, x64/ and run-time state
#   TARN_ARCH   x86 | x64: which build a wrapper runs (wine_for, system_folder_for)
: "${TARN_ROOT:?}" "${TARN_BUILD:?}"
export WINEPREFIX="$TARN_BUILD/wineprefix"
# One win64 prefix serves both architectures (syswow64 only where 32-bit code runs).
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installation dialogs; nothing here needs them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
# The panel's runs bring a display of their own (tools/panel/run-on-display).
[ -z "${TARN_DISPLAY:-}" ] || export DISPLAY="$TARN_DISPLAY"

# Debian's `wine` wrapper (and winepath and wineboot through it) takes the
# 32-bit loader whenever its file exists, even on a kernel that cannot run it.
# Our own `wine` first on PATH runs the 64-bit loader, which starts a 32-bit
# program itself where 32-bit code runs.
case ":$PATH:" in
    *":$TARN_ROOT/tools/shims:"*) ;;
    *) export PATH="$TARN_ROOT/tools/shims:$PATH" ;;
esac

# The loader of one architecture, called directly.
wine_for() {
    case "$1" in
        x86) echo /usr/lib/wine/wine ;;
        x64) echo /usr/lib/wine/wine64 ;;
        *) echo "unknown architecture '$1' (x86 or x64)" >&2; return 2 ;;
    esac
}

# Where that bitness finds its regsvr32 and cscript in the win64 prefix.
system_folder_for() {
    case "$1" in
        x86) echo 'C:\windows\syswow64' ;;
        x64) echo 'C:\windows\system32' ;;
        *) echo "unknown architecture '$1' (x86 or x64)" >&2; return 2 ;;
    esac
}

# run_cscript ARCH FILE [ARGS...]: runs a .vbs or .js (a Unix path) with the
# project's script host of that bitness (tools/script-host, built into
# $TARN_BUILD/ARCH/bin), with the host's exit code.  Every script the project
# runs (./tarn script, the demo, the script tests) goes through here.  Unlike
# Wine's cscript, the host prints a script's errors, where and why, and exits 1.
run_cscript() {
    local arch="$1" file="$2"; shift 2
    local host="$TARN_BUILD/$arch/bin/tarnscript.exe"
    [ -f "$host" ] || { echo "run_cscript: $host is not built (./tarn build)" >&2; return 2; }
    "$(wine_for "$arch")" "$host" //nologo "$(windows_path "$file")" "$@"
}

# The Windows name of a Unix path, through the prefix's Z: drive (the whole
# Unix tree), without starting a Wine process as winepath does.
windows_path() {
    local path; path="$(realpath -m "$1")"
    printf 'Z:%s' "${path//\//\\}"
}

# Whether this machine runs 32-bit programs, decided once per run by starting a
# real one (the 32-bit Wine loader asking for its version): some kernels have
# 32-bit emulation switched off.  Sets X86_RUNS (yes|no) and X86_WHY.
detect_x86() {
    [ -z "${X86_RUNS:-}" ] || return 0
    local loader out
    loader="$(wine_for x86)"
    if [ "${TARN_X86:-}" = off ]; then
        X86_RUNS=no X86_WHY="TARN_X86=off: treated as a machine that cannot run 32-bit programs"
    elif [ ! -e "$loader" ] && kernel_runs_32bit; then
        X86_RUNS=no X86_WHY="this kernel runs 32-bit programs, but the 32-bit Wine loader $loader is not installed (wine32:i386; ./tarn setup tells why)"
    elif [ ! -e "$loader" ]; then
        X86_RUNS=no X86_WHY="this kernel cannot run 32-bit programs, and the 32-bit Wine loader (wine32:i386) is not installed"
    elif out="$("$loader" --version 2>&1)"; then
        X86_RUNS=yes X86_WHY="$out"
    elif printf '%s' "$out" | grep -qi 'exec format error'; then
        X86_RUNS=no X86_WHY="this kernel cannot run 32-bit programs ($loader: Exec format error)"
    else
        X86_RUNS=no X86_WHY="the 32-bit Wine loader does not start: $(printf '%s' "$out" | head -n 1)"
    fi
}

# Whether the kernel starts a 32-bit program at all, asked without Wine: a
# 93-byte i386 ELF that exits with status 7.
kernel_runs_32bit() {
    local probe="$TARN_BUILD/exit7-i386" rc=0
    mkdir -p "$TARN_BUILD"
    printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb3\x07\x31\xc0\x40\xcd\x80' > "$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || rc=$?
    [ "$rc" -eq 7 ]
}
