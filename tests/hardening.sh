#!/usr/bin/env bash
# Reads the hardening back from the built files, so none of it can go
# silently: the Linux executable is a static, position-independent one with
# RELRO and immediate binding; the program's own objects call the stack
# protector and carry the CET (IBT, shadow stack) note; the Windows
# executable, when given, keeps ASLR with high entropy and DEP and links the
# stack protector.
#
# FORTIFY leaves a trace only where the compiler could not prove a call
# safe, and the program's calls all are: it is not read back.
#
# Usage: tests/hardening.sh LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]
set -uo pipefail

linux=${1:?usage: tests/hardening.sh LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]}
windows=${2:-}
failed=0

check() {  # description, command...
    local what=$1; shift
    if "$@" >/dev/null 2>&1; then
        echo "  ok    $what"
    else
        echo "  FAIL  $what"
        failed=1
    fi
}

core=$linux/libsondrel_core.a
[[ -f $linux/sondrel && -f $core ]] || { echo "hardening.sh: no sondrel and libsondrel_core.a in $linux" >&2; exit 2; }
for exe in "$linux/sondrel" "$linux/sondrel-scan"; do
    echo "$exe"
    check "position-independent (ELF type DYN)" sh -c "readelf -hW '$exe' | grep -q 'Type: *DYN'"
    check "static: no program interpreter" sh -c "! readelf -lW '$exe' | grep -q INTERP"
    check "RELRO segment" sh -c "readelf -lW '$exe' | grep -q GNU_RELRO"
    check "immediate binding (BIND_NOW)" sh -c "readelf -dW '$exe' | grep -q BIND_NOW"
    check "PIE flag" sh -c "readelf -dW '$exe' | grep -q 'FLAGS_1.*PIE'"
done
check "the program's objects call the stack protector" sh -c "nm '$core' | grep -q 'U __stack_chk_fail'"
if [[ $(uname -m) == x86_64 ]]; then
    # Every object of the program, one note each.
    objects=$(ar t "$core" | wc -l)
    check "all $objects objects of the program carry IBT and SHSTK" \
        sh -c "[ \$(readelf -nW '$core' | grep -c 'x86 feature: IBT, SHSTK') -eq $objects ]"
fi

if [[ -n $windows ]]; then
    for exe in "$windows/sondrel.exe" "$windows/sondrel-scan.exe"; do
        echo "$exe"
        dll=$(x86_64-w64-mingw32-objdump -p "$exe" | grep -A12 '^DllCharacteristics')
        for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
            check "$flag" grep -q "$flag" <<<"$dll"
        done
        check "the stack protector is linked in" sh -c "x86_64-w64-mingw32-nm '$exe' | grep -q __stack_chk_fail"
    done
fi
exit $failed
