#!/usr/bin/env bash
# What ./tarn package writes beside the packages, and the signing of every file
# it can sign, with a code-signing certificate made here and thrown away.
#
# usage: release_files_test.sh PACKAGE_FOLDER VERSION X86_BUILD X64_BUILD
#
#   SHA256SUMS     names every package and matches each
#   symbols zip    holds, for every shipped module of both builds, the debug
#                  file the module's .gnu_debuglink names, as built
#   signing        each shipped module and installer, signed by tools/sign-release
#                  as a vendor would, verifies against the certificate's CA and
#                  passes the binary check's "signed" row; with one byte
#                  changed it verifies no more
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 PACKAGE_FOLDER VERSION X86_BUILD X64_BUILD" >&2; exit 2; }
packages="$1" version="$2" x86="$3" x64="$4"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

passed=0 failed=0
check() {
    local what="$1"; shift
    if "$@" >"$work/last.log" 2>&1; then
        echo "ok   $what"; passed=$((passed + 1))
    else
        echo "FAIL $what"; sed 's/^/     /' "$work/last.log" | tail -n 8; failed=$((failed + 1))
    fi
}
fails() { ! "$@"; }

archives=(TarnDriver-"$version"-x64.msi TarnDriver-"$version"-x86.msi
          TarnDriver-"$version"-portable.zip TarnDriver-"$version"-symbols.zip)
check "SHA256SUMS lists exactly the packages" \
    diff <(printf '%s\n' "${archives[@]}" | sort) <(sed 's/^[0-9a-f]\{64\}  //' "$packages/SHA256SUMS" | sort)
check "SHA256SUMS matches every package" bash -c 'cd "$1" && sha256sum --check --quiet SHA256SUMS' _ "$packages"

# Every shipped module's debug file is in the symbols zip, byte for byte.
modules=()
for arch in x86 x64; do
    build="$x86"; [ "$arch" = x86 ] || build="$x64"
    mkdir -p "$work/symbols"
    while read -r module; do
        [ -n "$module" ] || continue
        modules+=("$arch:$module")
        entry="$arch/$(basename "$module").debug"
        check "symbols zip holds $entry as built" bash -c \
            'python3 -c "import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))" "$1" "$2" | cmp - "$3"' \
            _ "$packages/TarnDriver-$version-symbols.zip" "$entry" "$module.debug"
    done < "$build/shipped-modules.txt"
done

# A throwaway CA and a code-signing certificate it issued, as a vendor's would be.
(
    cd "$work"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 -subj "/CN=Throwaway Test CA" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign"
    openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Throwaway Code Signer"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > signer.ext
    openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out signer.pem -days 1 -extfile signer.ext
    echo "throwaway $$" > password.txt
    openssl pkcs12 -export -in signer.pem -inkey signer.key -certfile ca.pem -out signer.pfx -passout file:password.txt
) >"$work/certificate.log" 2>&1 || { cat "$work/certificate.log"; exit 1; }

verify() { osslsigncode verify -in "$1" -CAfile "$work/ca.pem"; }
flip_byte() {  # the middle byte of the file, changed
    local size at; size="$(stat -c %s "$1")"; at=$((size / 2))
    printf "\\x$(printf %02x $(( ($(od -An -tu1 -j $at -N1 "$1") + 1) % 256 )))" |
        dd of="$1" bs=1 seek=$at conv=notrunc status=none
}

mkdir -p "$work/sign"
files=() defs=()
for entry in "${modules[@]}"; do
    arch="${entry%%:*}" module="${entry#*:}"
    copy="$work/sign/$arch/$(basename "$module")"
    mkdir -p "$work/sign/$arch"
    cp "$module" "$module.debug" "$work/sign/$arch/"   # with the symbols it names
    files+=("$copy")
    def="$root/kit/$(basename "${module%.*}").def"   # the kit's exports; the module's are the COM four
    [ -f "$def" ] && defs+=("$arch:$copy=$def") || defs+=("$arch:$copy")
done
for package in TarnDriver-"$version"-x64.msi TarnDriver-"$version"-x86.msi; do
    cp "$packages/$package" "$work/sign/$package"
    files+=("$work/sign/$package")
done

export TARN_SIGN_PFX="$work/signer.pfx" TARN_SIGN_PASSWORD_FILE="$work/password.txt"
unset TARN_SIGN_TIMESTAMP_URL
check "tools/sign-release signs ${#files[@]} files" "$root/tools/sign-release" "${files[@]}"
shown() { echo "${1#"$work"/sign/}"; }
for file in "${files[@]}"; do
    check "$(shown "$file") verifies against the CA" verify "$file"
done
for entry in "${defs[@]}"; do
    arch="${entry%%:*}" module="${entry#*:}"
    check "$(shown "${module%%=*}") passes the binary check, signed row included" \
        "$root/tools/check-binaries" "$arch" "$version" "$module"
done
for file in "${files[@]}"; do
    flip_byte "$file"
    check "$(shown "$file") with one byte changed fails verification" fails verify "$file"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
