#!/usr/bin/env bash
# Builds a C++ client from a copy of the SDK folder alone, as a client's
# developer does with the commands of docs/getting-started.md, and runs it
# against the stand-ins; then compiles the SDK's IDL from the copy and checks
# that its type library describes what the shipped ones do.
#
#   client_build_test.sh SDK CLIENT.cpp GENERATOR.exe STDOLE2-DIR-X64 STDOLE2-DIR-X86
#
# CLIENT.cpp takes the two ends of the stand-in null-modem cable (21 22), says
# "received ..." and exits 0 when every step worked.  GENERATOR.exe is the
# reference generator: its pages are the comparison of type libraries (classes,
# interfaces, members, DISPIDs, GUIDs, parameters), not their bytes.
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: $0 SDK CLIENT.cpp GENERATOR.exe STDOLE2-DIR-X64 STDOLE2-DIR-X86" >&2; exit 2; }
sdk="$(realpath "$1")" client="$(realpath "$2")" generator="$(realpath "$3")"
declare -A widl=([64]=x86_64-w64-mingw32-widl [32]=i686-w64-mingw32-widl) stdole2=([64]="$4" [32]="$5")
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export TARN_ROOT="${TARN_ROOT:-$(dirname "$here")}"
export TARN_BUILD="${TARN_BUILD:-$TARN_ROOT/build}"
. "$TARN_ROOT/tools/wine-env.sh"

work="$(mktemp -d "$TARN_BUILD/x64/sdk-client.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cp -r "$sdk" "$work/sdk"
cp "$client" "$work/client.cpp"
# The client's own headers come with it (the samples share one for activation
# contexts); the library's come from the SDK only.
cp "$(dirname "$client")"/*.h "$work/"
cd "$work"
failed=0
fail() { echo "FAILED: $*" >&2; failed=1; }

# 1. Compile and link with nothing but the copy: no project include path.
for arch in x64 x86; do
    case "$arch" in
        x64) compiler=x86_64-w64-mingw32-g++-posix ;;
        x86) compiler=i686-w64-mingw32-g++-posix ;;
    esac
    if "$compiler" -O2 -Wall -I sdk/include client.cpp sdk/include/TarnDriver_i.c -o "client-$arch.exe" \
            -static -lole32 -loleaut32 -luuid; then
        echo "built client-$arch.exe with $compiler from the SDK alone"
    else
        fail "$compiler could not build the client from the SDK alone"
    fi
done

# 2. Run what was built against the stand-ins; x86 only where 32-bit code runs.
detect_x86
for arch in x64 x86; do
    [ -f "client-$arch.exe" ] || continue
    if [ "$arch" = x86 ] && [ "$X86_RUNS" != yes ]; then
        echo "client-x86.exe built but not run: $X86_WHY"
        continue
    fi
    output="$("$(wine_for "$arch")" "client-$arch.exe" 21 22 2>&1)" || fail "client-$arch.exe exited $?"
    printf '%s\n' "$output" | sed "s/^/  $arch: /"
    printf '%s\n' "$output" | tr -d '\r' | grep -q '^received "' || fail "client-$arch.exe received nothing"
done

# 3. The IDL compiles from the copy with only the standard IDL files, and gives
# the type library that is shipped, for both bitnesses.
mkdir empty-notes
describe() {  # describe NAME TLB: the generator's pages of one type library, in pages-NAME/
    mkdir "pages-$1"
    "$(wine_for x64)" "$generator" "$(windows_path "$2")" "$(windows_path "$work/empty-notes")" \
        "$(windows_path "$work/pages-$1")" >/dev/null && [ -n "$(ls "pages-$1")" ]
}
for bits in 64 32; do
    (cd sdk/idl && "${widl[$bits]}" "--win$bits" -I /usr/include/wine/wine/windows -L "${stdole2[$bits]}" \
        -t -o "$work/rebuilt-win$bits.tlb" TarnDriver.idl) || { fail "widl cannot compile the SDK's IDL alone"; continue; }
    for tlb in "rebuilt-$bits|rebuilt-win$bits.tlb" "shipped-$bits|sdk/typelib/win$bits/TarnDriver.tlb"; do
        describe "${tlb%%|*}" "${tlb#*|}" || fail "the generator cannot read ${tlb#*|}"
    done
    if diff -r "pages-shipped-$bits" "pages-rebuilt-$bits"; then
        echo "the IDL compiled from the SDK alone gives the shipped win$bits type library ($(ls "pages-shipped-$bits" | wc -l) pages alike)"
    else
        fail "the SDK's IDL does not give the shipped win$bits type library"
    fi
done
exit $failed
