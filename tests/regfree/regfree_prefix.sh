#!/usr/bin/env bash
# A Wine prefix in which nothing of TarnDriver is registered, for the samples
# run without registration (the regfree_* tests), and the check afterwards.
#
#   regfree_prefix.sh setup ARCH PORTABLE.zip    a new prefix with the
#       stand-in devices running, and the samples laid out the two ways a
#       client uses the portable package's ARCH folder:
#         app/   the samples, each with the package's sample application
#                manifest beside it, and TarnDriver.DLL with its manifest
#         host/  the samples alone; they activate TarnDriver/TarnDriver.manifest
#                themselves (--manifest), as a plug-in or a foreign host would
#   regfree_prefix.sh check ARCH    no TarnDriver class or ProgID key was
#       written; stops the prefix and removes it (TARN_KEEP_REGFREE_TEST=1 keeps it).
#
# The prefix lives in WORK/build/wineprefix: wine-env.sh and the stand-ins'
# service script find it there through TARN_BUILD=WORK/build, whose x64 folder
# is the real x64 build (the stand-in drivers are always the x64 ones).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export TARN_ROOT="${TARN_ROOT:-$(cd "$here/../.." && pwd)}"
real_build="${TARN_BUILD:-$TARN_ROOT/build}"
action="$1" arch="$2" portable="${3:-}"
work="$real_build/$arch/regfree-test"
export TARN_BUILD="$work/build"
. "$TARN_ROOT/tools/wine-env.sh"
STEP_LIMIT=300
SAMPLES=(early_bound events late_bound)
# What registration would write and a registration-free run must not: the class
# keys (both views) and the ProgIDs.  Wine's oleaut32 may register the type
# library on its own when it first marshals, so TypeLib and Interface keys are not asked about.
CLASS_KEYS=(2164C0FB-F841-4C92-AEF0-D6B22D04C922 7FFFCA13-F494-4E22-B23E-405069B93B83
            5AA32D6D-FCE2-4C6D-A139-6EFADC92A790 B22E6CCA-AD9C-4574-A1E4-B5D1BB8E593D)

in_wine() { timeout "$STEP_LIMIT" /usr/lib/wine/wine64 "$@"; }

setup() {
    rm -rf "$work"
    mkdir -p "$TARN_BUILD" "$work/app" "$work/host" "$work/TarnDriver"
    ln -s "$real_build/x64" "$TARN_BUILD/x64"
    local started=$SECONDS
    timeout "$STEP_LIMIT" wineboot -i >/dev/null 2>&1
    wineserver -w
    [ -d "$WINEPREFIX/drive_c/windows/system32" ] || { echo "wineboot made no prefix in $WINEPREFIX"; return 1; }
    # One server for all the samples, stopped by the check.
    wineserver -p 2>/dev/null
    echo "new prefix in $((SECONDS - started)) s: $WINEPREFIX"
    "$TARN_ROOT/standins/service.sh" start || return 1

    [ -f "$portable" ] || { echo "no portable package $portable: ./tarn package writes it"; return 1; }
    local unpacked="$work/portable" sample folder
    python3 -m zipfile -e "$portable" "$unpacked" || return 1
    cmp -s "$unpacked/$arch/TarnDriver.DLL" "$real_build/$arch/bin/TarnDriver.DLL" \
        || { echo "the portable package's $arch module is not this build's: ./tarn package"; return 1; }
    for sample in "${SAMPLES[@]}"; do
        cp "$real_build/$arch/bin/$sample.exe" "$work/app/" && cp "$real_build/$arch/bin/$sample.exe" "$work/host/" \
            && cp "$unpacked/$arch/MyApplication.exe.manifest" "$work/app/$sample.exe.manifest" || return 1
    done
    for folder in app TarnDriver; do
        cp "$unpacked/$arch/TarnDriver.DLL" "$unpacked/$arch/TarnDriver.manifest" "$work/$folder/" || return 1
    done
    ! registered "before the samples"
}

# Whether any class or ProgID key of TarnDriver is in the registry; says which.
registered() {
    local when="$1" part export="$work/registry.reg" found=""
    : > "$export"
    for part in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER; do
        in_wine regedit /E "$(windows_path "$work/part.reg")" "$part" || { echo "cannot export $part"; return 0; }
        iconv -f utf-16 -t utf-8 "$work/part.reg" | tr -d '\r' >> "$export"
    done
    local pattern
    pattern="^\[HKEY_[A-Z_]+\\\\Software\\\\Classes\\\\((Wow6432Node\\\\)?CLSID\\\\\\{($(IFS='|'; echo "${CLASS_KEYS[*]}"))\\}|TarnDriver\\.)"
    found="$(grep -iE "$pattern" "$export" | sed 's/^/  /')"
    if [ -n "$found" ]; then
        echo "TarnDriver keys in the registry $when:"
        printf '%s\n' "$found"
        return 0
    fi
    echo "no TarnDriver class or ProgID key in the registry $when"
    return 1
}

check() {
    [ -d "$WINEPREFIX" ] || { echo "no prefix at $WINEPREFIX: the setup failed"; return 1; }
    local rc=0
    "$TARN_ROOT/standins/service.sh" stop
    registered "after the samples" && rc=1
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    # TARN_KEEP_REGFREE_TEST=1 keeps the prefix and the samples' folders to look at.
    [ "${TARN_KEEP_REGFREE_TEST:-}" = 1 ] || rm -rf "$work"
    return $rc
}

case "$action" in
    setup) setup ;;
    check) check ;;
    *) echo "usage: $0 setup ARCH PORTABLE.zip | check ARCH" >&2; exit 2 ;;
esac
