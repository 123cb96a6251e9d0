#!/usr/bin/env bash
# Builds the installer from the x86 and x64 build folders: WiX source from
# generate_wxs.py, then the package with wixl.  The `installer` target of the
# x64 build runs it with the project's version; the installer test runs it
# with a higher one to try an upgrade.
# usage: build_msi.sh VERSION SOURCE_ROOT X86_BUILD X64_BUILD OUTPUT.msi
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: $0 VERSION SOURCE_ROOT X86_BUILD X64_BUILD OUTPUT.msi" >&2; exit 2; }
version="$1" source_root="$2" x86="$3" x64="$4" output="$5"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mkdir -p "$(dirname "$output")"
output="$(cd "$(dirname "$output")" && pwd)/$(basename "$output")"
wxs="${output%.msi}.wxs"
python3 "$here/generate_wxs.py" --version "$version" --source "$source_root" \
        --x86 "$x86" --x64 "$x64" --output "$wxs"
# wixl finds the sources relative to its working folder, and has no Platform
# attribute: the package's platform is its -a.
cd "$(dirname "$wxs")"
wixl -a x64 -o "$output" "$(basename "$wxs")"
