#!/usr/bin/env bash
# An installer in a clean Wine prefix of its own (never the suite's): silent
# install, the classes from the installed files, the package's registration
# against the modules' own, repair, reinstall and upgrade, then a silent
# uninstall that must leave no file and no registry key behind.  Judged by its
# last line, "N passed, M failed".
#
# PLATFORM x64 (default): the package for 64-bit Windows, in a win64 prefix.
# PLATFORM x86: the package for 32-bit Windows, in a new win32 prefix; where
# 32-bit programs cannot run it says so and exits 77 (not run).  Its tables
# are checked on the build machine by package_tables.py wherever it runs.
# usage: install_test.sh PACKAGE.msi VERSION [PLATFORM]
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export TARN_ROOT="${TARN_ROOT:-$(cd "$here/../.." && pwd)}"
export TARN_BUILD="${TARN_BUILD:-$TARN_ROOT/build}"
. "$TARN_ROOT/tools/wine-env.sh"
msi="$1" version="$2" platform="${3:-x64}"

work="$TARN_BUILD/x64/installer-test"
# The architectures whose modules the package installs, and what it runs them with.
ARCHES=(x64 x86)
loader="$(wine_for x64)"
if [ "$platform" = x86 ]; then
    # A 32-bit Windows: one registry view, one Program Files, system32 is 32-bit.
    work="$TARN_BUILD/x64/installer-test-x86"
    export WINEARCH=win32
    ARCHES=(x86)
    loader="$(wine_for x86)"
fi
export WINEPREFIX="$work/prefix"
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
in_wine() { timeout "$STEP_LIMIT" "$loader" "$@"; }
win_path() { "$loader" winepath -w "$1" 2>/dev/null; }
# Where a bitness finds cscript and regsvr32: on 32-bit Windows, system32.
system_of() { if [ "$platform" = x86 ]; then echo 'C:\windows\system32'; else system_folder_for "$1"; fi; }
# Whether programs of that bitness run here.
runs() { [ "$1" = x64 ] || [ "$X86_RUNS" = yes ]; }

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
    out="$(timeout "$STEP_LIMIT" "$(wine_for "$arch")" "$(system_of "$arch")\\cscript.exe" //nologo \
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
    local arch
    for arch in "${ARCHES[@]}"; do
        if runs "$arch"; then run_classes "$arch"; else echo "note: the installed $arch classes were not run: $X86_WHY"; fi
    done
}
# The versions of the Add/Remove Programs entries named TarnDriver in a state's export.
installed_versions() { registry products "$work/$1.reg" | tr '\n' ' ' | sed 's/ $//'; }

[ -f "$msi" ] || { echo "no package $msi: ./tarn package builds it"; fail "package present"; finish; }
detect_x86
if [ "$platform" = x86 ] && [ "$X86_RUNS" != yes ]; then
    # CTest reports the test as not run (SKIP_RETURN_CODE); the package's tables are checked anyway.
    echo "NOT RUN: the x86 package was not installed, repaired, upgraded or removed: $X86_WHY"
    exit 77
fi

# --- A clean prefix -------------------------------------------------------------
rm -rf "$work"
mkdir -p "$work"
started=$SECONDS
# A wineboot that ends at once without a prefix (seen once in a full run) is
# said with its output and tried once more, so a flake of the prefix's start
# is told from a fault of the package.
for attempt in 1 2; do
    in_wine wineboot -i >"$work/wineboot.log" 2>&1
    wineserver -w           # wineboot's server ends; then one server for the whole test, stopped by cleanup
    [ -d "$WINEPREFIX/drive_c/windows/system32" ] && break
    echo "note: wineboot attempt $attempt made no prefix; its output:"
    sed 's/^/  /' "$work/wineboot.log" | tail -n 20
done
wineserver -p 2>/dev/null
echo "clean prefix created in $((SECONDS - started)) s"
check "the clean prefix exists" test -d "$WINEPREFIX/drive_c/windows/system32"
check "no TarnDriver before the install" test ! -e "$WINEPREFIX/drive_c/Program Files/TarnDriver"
# The script host of each bitness registers its own type library when it first
# runs: once before the first export, so that the comparison sees only the package.
cat "$TARN_ROOT/tests/common/harness.vbs" > "$work/empty.vbs" && echo Summary >> "$work/empty.vbs"
for arch in "${ARCHES[@]}"; do
    runs "$arch" || continue
    timeout "$STEP_LIMIT" "$(wine_for "$arch")" "$(system_of "$arch")\\cscript.exe" //nologo \
        "$(win_path "$work/empty.vbs")" >/dev/null 2>&1
done
(cd "$WINEPREFIX/drive_c" && find . | sort) > "$work/files-before"
export_registry before || fail "registry export before the install"

# --- Install --------------------------------------------------------------------
check "silent install" run_msiexec /i "$msi" install
# Where each architecture's modules go, as a Unix and a Windows path, and its
# class keys: on 64-bit Windows the x86 ones are in Program Files (x86) and the 32-bit view.
folder_of() {
    if [ "$1" = x86 ] && [ "$platform" = x64 ]; then echo "$WINEPREFIX/drive_c/Program Files (x86)/TarnDriver"
    else echo "$WINEPREFIX/drive_c/Program Files/TarnDriver"; fi
}
module_of() {
    if [ "$1" = x86 ] && [ "$platform" = x64 ]; then echo 'C:\Program Files (x86)\TarnDriver\TarnDriver.DLL'
    else echo 'C:\Program Files\TarnDriver\TarnDriver.DLL'; fi
}
class_folder_of() { if [ "$1" = x86 ] && [ "$platform" = x64 ]; then echo 'Wow6432Node\CLSID'; else echo CLSID; fi; }
platform_of() { [ "$1" = x64 ] && echo win64 || echo win32; }
sdk="$(folder_of "$platform")/SDK"
for file in "$sdk/include/TarnDriver.h" "$sdk/include/TarnDriver_i.c" "$sdk/idl/TarnDriver.idl" "$sdk/examples/demo.vbs"; do
    check "installed: ${file#"$WINEPREFIX/drive_c/"}" test -f "$file"
done
our_keys installed
# Each view names its own module, and the type library is registered for each platform.
classes='HKEY_LOCAL_MACHINE\Software\Classes'
rs232='{2164C0FB-F841-4C92-AEF0-D6B22D04C922}' libid='{5A4FDAAF-053D-4135-8AC1-747A5E1B8186}'
installed_value() { registry value "$work/installed.reg" "$@"; }
for arch in "${ARCHES[@]}"; do
    for file in "$(folder_of "$arch")/TarnDriver.DLL" "$(folder_of "$arch")/TarnKit.dll" "$(folder_of "$arch")/TarnPanel.exe" \
                "$sdk/typelib/$(platform_of "$arch")/TarnDriver.tlb"; do
        check "installed: ${file#"$WINEPREFIX/drive_c/"}" test -f "$file"
    done
    check "the $arch module is the $arch build" cmp -s "$(folder_of "$arch")/TarnDriver.DLL" "$TARN_BUILD/$arch/bin/TarnDriver.DLL"
    check "$arch: the class is the installed $arch module" \
        test "$(installed_value "$classes\\$(class_folder_of "$arch")\\$rs232\\InprocServer32")" = "$(module_of "$arch")"
    check "the $(platform_of "$arch") type library is the $arch module's" \
        test "$(installed_value "$classes\\TypeLib\\$libid\\1.0\\0\\$(platform_of "$arch")")" = "$(module_of "$arch")"
done
classes_work
check "one Add/Remove Programs entry, $version" test "$(installed_versions installed)" = "$version"

# --- The package writes what the modules' own registration writes -----------
# Registering the installed modules again must change nothing: the rows were
# generated from the same registrar scripts, class list and type libraries.
for arch in "${ARCHES[@]}"; do
    if ! runs "$arch"; then
        echo "note: the $arch self-registration was not compared: $X86_WHY"
        continue
    fi
    for dll in TarnDriver.DLL TarnKit.dll; do
        check "$arch regsvr32 $dll" timeout "$STEP_LIMIT" "$(wine_for "$arch")" \
            "$(system_of "$arch")\\regsvr32.exe" /s "$(win_path "$(folder_of "$arch")/$dll")"
    done
done
our_keys self_registered
check "self-registration writes exactly the package's rows" diff -u "$work/installed.ours" "$work/self_registered.ours"

# --- Repair, reinstall, upgrade ---------------------------------------------------
# Repair: damage the installation, then reinstall everything.  (Wine's
# msiexec /f takes neither a package, which it reads as a product code, nor a
# product code, which it has not implemented; REINSTALL=ALL is what /fa asks for.)
rm -f "$(folder_of "$platform")/TarnDriver.DLL"
in_wine reg delete 'HKCR\CLSID\{2164C0FB-F841-4C92-AEF0-D6B22D04C922}\InprocServer32' /f >/dev/null 2>&1
check "silent repair" run_msiexec /i "$msi" repair REINSTALL=ALL REINSTALLMODE=vamus
check "the repair restored the module" \
    cmp -s "$(folder_of "$platform")/TarnDriver.DLL" "$TARN_BUILD/$platform/bin/TarnDriver.DLL"
check "silent install over the installed package" run_msiexec /i "$msi" reinstall
our_keys reinstalled
check "repair and reinstall leave the same registration" diff -u "$work/installed.ours" "$work/reinstalled.ours"
check "still one Add/Remove Programs entry" test "$(installed_versions reinstalled)" = "$version"

IFS=. read -r major minor build revision <<<"$version"
newer="$major.$minor.$((build + 1)).${revision:-0}"   # Windows Installer ignores the fourth field
upgrade="$work/TarnDriver-$newer-$platform.msi"
x64_build="$TARN_BUILD/x64"; [ "$platform" = x64 ] || x64_build=none
check "a package of version $newer builds" "$TARN_ROOT/installer/build_msi.sh" "$newer" "$TARN_ROOT" \
    "$TARN_BUILD/x86" "$x64_build" "$upgrade"
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
