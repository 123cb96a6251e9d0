#!/usr/bin/env bash
# The installer in a clean Wine prefix of its own (never the suite's): silent
# install, the classes from the installed files, the package's registration
# against the modules' own, repair, reinstall and upgrade, then a silent
# uninstall that must leave no file and no registry key behind.  Judged by its
# last line, "N passed, M failed".
# usage: install_test.sh PACKAGE.msi VERSION
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export TARN_ROOT="${TARN_ROOT:-$(cd "$here/../.." && pwd)}"
export TARN_BUILD="${TARN_BUILD:-$TARN_ROOT/build}"
. "$TARN_ROOT/tools/wine-env.sh"
msi="$1" version="$2"

work="$TARN_BUILD/x64/installer-test"
export WINEPREFIX="$work/prefix"
wine64="$(wine_for x64)"
PASSED=0 FAILED=0
STEP_LIMIT=300   # seconds for any one Wine command; the whole test has CTest's limit

cleanup() {
    wineserver -k 2>/dev/null || true
    # TARN_KEEP_INSTALLER_TEST=1 keeps the prefix, the exports and the logs to look at.
    [ "${TARN_KEEP_INSTALLER_TEST:-}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT

pass() { PASSED=$((PASSED + 1)); }
fail() { FAILED=$((FAILED + 1)); echo "FAIL $*"; }
check() {  # check NAME COMMAND...: passes when the command succeeds
    local name="$1"; shift
    if "$@"; then pass; else fail "$name"; fi
}
finish() {
    echo "$PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ] && [ "$PASSED" -gt 0 ]
    exit $?
}
in_wine() { timeout "$STEP_LIMIT" "$wine64" "$@"; }
win_path() { winepath -w "$1" 2>/dev/null; }

# run_msiexec ACTION PACKAGE LOGNAME [PROPERTIES...]: silent, with a verbose log kept on failure.
run_msiexec() {
    local action="$1" package="$2" log="$work/$3.log"; shift 3
    in_wine msiexec "$action" "$(win_path "$package")" /qn /l*v "$(win_path "$log")" "$@"
    local rc=$?
    if [ "$rc" -ne 0 ]; then
        echo "msiexec $action ended with $rc; its log's last lines:"
        iconv -f utf-16 -t utf-8 "$log" 2>/dev/null | tail -n 15
    fi
    return "$rc"
}

export_registry() {  # export_registry NAME: HKLM, HKCU and HKCR in one file
    local out="$work/$1.reg" part
    : > "$out"
    for part in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER HKEY_CLASSES_ROOT; do
        in_wine regedit /E "$(win_path "$work/part.reg")" "$part" || return 1
        iconv -f utf-16 -t utf-8 "$work/part.reg" >> "$out"
    done
}
registry() { python3 "$here/registry_export.py" "$@"; }
# A state: the registry exported, and its TarnDriver registration for comparing two states.
LIBRARIES=("$TARN_BUILD/x64/src/generated/TarnDriver.tlb" "$TARN_BUILD/x64/kit/TarnKit.tlb")
our_keys() { export_registry "$1" && registry registration "$work/$1.reg" "${LIBRARIES[@]}" > "$work/$1.ours"; }

# One registered serial port.  Wine rebuilds the serial-port map now and then
# (it is volatile), so it is set again before each use.
register_port() {
    in_wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\TarnTest7' /d COM7 /f >/dev/null
}

# The installed classes, through the cscript of one architecture.
run_classes() {
    local arch="$1" composed="$work/installed_classes.vbs" out summary
    check "a port in the serial-port map" register_port
    cat "$TARN_ROOT/tests/common/harness.vbs" "$here/installed_classes.vbs" > "$composed"
    out="$(timeout "$STEP_LIMIT" "$(wine_for "$arch")" "$(system_folder_for "$arch")\\cscript.exe" //nologo \
           "$(win_path "$composed")" COM7 2>&1)"
    summary="$(printf '%s\n' "$out" | tr -d '\r' | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -n 1)"
    if [ -n "$summary" ] && [ "${summary#*, }" = "0 failed" ]; then
        pass
    else
        printf '%s\n' "$out" | tr -d '\r' | grep -v '^[0-9]* passed' | sed "s/^/  $arch: /"
        fail "the installed classes on $arch (${summary:-no summary})"
    fi
}
classes_work() {
    run_classes x64
    if [ "$X86_RUNS" = yes ]; then
        run_classes x86
    else
        echo "note: the installed x86 classes were not run: $X86_WHY"
    fi
}
# The versions of the Add/Remove Programs entries named TarnDriver in a state's export.
installed_versions() { registry products "$work/$1.reg" | tr '\n' ' ' | sed 's/ $//'; }

[ -f "$msi" ] || { echo "no package $msi: ./tarn package builds it"; fail "package present"; finish; }
detect_x86

# --- A clean prefix -------------------------------------------------------------
rm -rf "$work"
mkdir -p "$work"
started=$SECONDS
timeout "$STEP_LIMIT" wineboot -i >/dev/null 2>&1
wineserver -w               # wineboot's server ends; then one server for the whole test, stopped by cleanup
wineserver -p 2>/dev/null
echo "clean prefix created in $((SECONDS - started)) s"
check "the clean prefix exists" test -d "$WINEPREFIX/drive_c/windows/system32"
check "no TarnDriver before the install" test ! -e "$WINEPREFIX/drive_c/Program Files/TarnDriver"
# The script host of each bitness registers its own type library when it first
# runs: once before the first export, so that the comparison sees only the package.
cat "$TARN_ROOT/tests/common/harness.vbs" > "$work/empty.vbs" && echo Summary >> "$work/empty.vbs"
for arch in x64 x86; do
    [ "$arch" = x86 ] && [ "$X86_RUNS" != yes ] && continue
    timeout "$STEP_LIMIT" "$(wine_for "$arch")" "$(system_folder_for "$arch")\\cscript.exe" //nologo \
        "$(win_path "$work/empty.vbs")" >/dev/null 2>&1
done
(cd "$WINEPREFIX/drive_c" && find . | sort) > "$work/files-before"
export_registry before || fail "registry export before the install"

# --- Install --------------------------------------------------------------------
check "silent install" run_msiexec /i "$msi" install
program_files="$WINEPREFIX/drive_c/Program Files/TarnDriver"
program_files_x86="$WINEPREFIX/drive_c/Program Files (x86)/TarnDriver"
for file in "$program_files/TarnDriver.DLL" "$program_files/TarnKit.dll" \
            "$program_files_x86/TarnDriver.DLL" "$program_files_x86/TarnKit.dll" \
            "$program_files/SDK/include/TarnDriver.h" "$program_files/SDK/include/TarnDriver_i.c" \
            "$program_files/SDK/idl/TarnDriver.idl" "$program_files/SDK/typelib/win32/TarnDriver.tlb" \
            "$program_files/SDK/typelib/win64/TarnDriver.tlb" "$program_files/SDK/examples/demo.vbs"; do
    check "installed: ${file#"$WINEPREFIX/drive_c/"}" test -f "$file"
done
check "the x86 module is the x86 build" cmp -s "$program_files_x86/TarnDriver.DLL" "$TARN_BUILD/x86/bin/TarnDriver.DLL"
check "the x64 module is the x64 build" cmp -s "$program_files/TarnDriver.DLL" "$TARN_BUILD/x64/bin/TarnDriver.DLL"
our_keys installed
# Each view names its own module, and the type library is registered for both platforms.
classes='HKEY_LOCAL_MACHINE\Software\Classes'
rs232='{2164C0FB-F841-4C92-AEF0-D6B22D04C922}' libid='{5A4FDAAF-053D-4135-8AC1-747A5E1B8186}'
x64_module='C:\Program Files\TarnDriver\TarnDriver.DLL' x86_module='C:\Program Files (x86)\TarnDriver\TarnDriver.DLL'
installed_value() { registry value "$work/installed.reg" "$@"; }
check "64-bit view: the class is the installed x64 module" \
    test "$(installed_value "$classes\\CLSID\\$rs232\\InprocServer32")" = "$x64_module"
check "32-bit view: the class is the installed x86 module" \
    test "$(installed_value "$classes\\Wow6432Node\\CLSID\\$rs232\\InprocServer32")" = "$x86_module"
check "the win64 type library is the x64 module's" \
    test "$(installed_value "$classes\\TypeLib\\$libid\\1.0\\0\\win64")" = "$x64_module"
check "the win32 type library is the x86 module's" \
    test "$(installed_value "$classes\\TypeLib\\$libid\\1.0\\0\\win32")" = "$x86_module"
classes_work
check "one Add/Remove Programs entry, $version" test "$(installed_versions installed)" = "$version"

# --- The package writes what the modules' own registration writes -----------
# Registering the installed modules again must change nothing: the rows were
# generated from the same registrar scripts, class list and type libraries.
for arch in x64 x86; do
    if [ "$arch" = x86 ] && [ "$X86_RUNS" != yes ]; then
        echo "note: the x86 self-registration was not compared: $X86_WHY"
        continue
    fi
    folder="$program_files"; [ "$arch" = x86 ] && folder="$program_files_x86"
    for dll in TarnDriver.DLL TarnKit.dll; do
        check "$arch regsvr32 $dll" timeout "$STEP_LIMIT" "$(wine_for "$arch")" \
            "$(system_folder_for "$arch")\\regsvr32.exe" /s "$(win_path "$folder/$dll")"
    done
done
our_keys self_registered
check "self-registration writes exactly the package's rows" diff -u "$work/installed.ours" "$work/self_registered.ours"

# --- Repair, reinstall, upgrade ---------------------------------------------------
# Repair: damage the installation, then reinstall everything.  (Wine's
# msiexec /f takes neither a package, which it reads as a product code, nor a
# product code, which it has not implemented; REINSTALL=ALL is what /fa asks for.)
rm -f "$program_files/TarnDriver.DLL"
in_wine reg delete 'HKCR\CLSID\{2164C0FB-F841-4C92-AEF0-D6B22D04C922}\InprocServer32' /f >/dev/null 2>&1
check "silent repair" run_msiexec /i "$msi" repair REINSTALL=ALL REINSTALLMODE=vamus
check "the repair restored the module" cmp -s "$program_files/TarnDriver.DLL" "$TARN_BUILD/x64/bin/TarnDriver.DLL"
check "silent install over the installed package" run_msiexec /i "$msi" reinstall
our_keys reinstalled
check "repair and reinstall leave the same registration" diff -u "$work/installed.ours" "$work/reinstalled.ours"
check "still one Add/Remove Programs entry" test "$(installed_versions reinstalled)" = "$version"

IFS=. read -r major minor build revision <<<"$version"
newer="$major.$minor.$((build + 1)).${revision:-0}"   # Windows Installer ignores the fourth field
upgrade="$work/TarnDriver-$newer-x64.msi"
check "a package of version $newer builds" "$TARN_ROOT/installer/build_msi.sh" "$newer" "$TARN_ROOT" \
    "$TARN_BUILD/x86" "$TARN_BUILD/x64" "$upgrade"
check "silent upgrade to $newer" run_msiexec /i "$upgrade" upgrade
our_keys upgraded
check "the upgrade leaves one registration, the same" diff -u "$work/installed.ours" "$work/upgraded.ours"
check "one Add/Remove Programs entry after the upgrade, $newer" test "$(installed_versions upgraded)" = "$newer"
classes_work

# --- Uninstall: nothing left ---------------------------------------------------------
check "silent uninstall" run_msiexec /x "$upgrade" uninstall
export_registry after || fail "registry export after the uninstall"
echo "registry after the uninstall against before the install:"
check "the uninstall leaves the registry as it was" registry diff "$work/before.reg" "$work/after.reg"
registry ours "$work/after.reg" "${LIBRARIES[@]}" > "$work/after.ours"
check "no TarnDriver key is left" test ! -s "$work/after.ours"
(cd "$WINEPREFIX/drive_c" && find . | sort) > "$work/files-after"
# Windows Installer keeps its (by now empty) cache folder; nothing else may stay.
left="$(comm -13 "$work/files-before" "$work/files-after" | grep -vx './windows/Installer' || true)"
[ -z "$left" ] || printf 'left in C:\\: %s\n' "$left"
check "no file or folder is left" test -z "$left"
finish
