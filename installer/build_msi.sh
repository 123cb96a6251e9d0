#!/usr/bin/env bash
# Builds an installer from the build folders: WiX source from generate_wxs.py,
# then the package with wixl.  The `installer` target of the x64 build runs it
# with the project's version; the installer tests run it with a higher one to
# try an upgrade.  X64_BUILD "none" makes the x86 package (32-bit Windows).
# usage: build_msi.sh VERSION SOURCE_ROOT X86_BUILD X64_BUILD|none OUTPUT.msi
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: $0 VERSION SOURCE_ROOT X86_BUILD X64_BUILD|none OUTPUT.msi" >&2; exit 2; }
version="$1" source_root="$2" x86="$3" x64="$4" output="$5"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mkdir -p "$(dirname "$output")"
output="$(cd "$(dirname "$output")" && pwd)/$(basename "$output")"
wxs="${output%.msi}.wxs"
platform=x64 builds=(--x86 "$x86" --x64 "$x64")
[ "$x64" != none ] || platform=x86 builds=(--x86 "$x86")
python3 "$here/generate_wxs.py" --version "$version" --source "$source_root" "${builds[@]}" --output "$wxs"
# wixl finds the sources relative to its working folder, and has no Platform
# attribute: the package's platform is its -a.
cd "$(dirname "$wxs")"
wixl -a "$platform" -o "$output" "$(basename "$wxs")"
