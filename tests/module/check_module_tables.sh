#!/usr/bin/env bash
# The module exports exactly its four entry points and imports only system DLLs
# (its C and C++ run time are linked in).
set -euo pipefail
# usage: check_module_tables.sh OBJDUMP DLL (the objdump of the DLL's architecture)
objdump="$1" dll="$2"
dump="$("$objdump" -p "$dll")"
exports="$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^\s*\[ *[0-9]+\]' | awk '{print $NF}' | sort)"
expected="$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer)"
if [ "$exports" != "$expected" ]; then
    echo "exports differ:"; echo "$exports"; exit 1
fi
imports="$(printf '%s\n' "$dump" | grep 'DLL Name:' | awk '{print tolower($3)}' | sort)"
allowed='^(kernel32|user32|advapi32|ole32|oleaut32|msvcrt)\.dll$'
bad="$(printf '%s\n' "$imports" | grep -vE "$allowed" || true)"
if [ -n "$bad" ]; then
    echo "imports beyond the system DLLs:"; echo "$bad"; exit 1
fi
name="$(basename "$dll")"
[ "$name" = "TarnDriver.DLL" ] || { echo "module named $name"; exit 1; }
echo "exports: $(echo $exports); imports: $(echo $imports)"
echo "1 passed, 0 failed"
