#!/bin/bash
# Checks of the release program as built (korvalinex.exe of the 32-bit
# build), without running it: a 32-bit PE for the GUI subsystem of at most
# 600,000 bytes, linked so that it needs only DLLs every Windows has
# (Winsock 1.1 among them) and imports none of those it loads at their
# first use, with its version block. The program's version
# comes from CMakeLists.txt. The simulator that ships beside it
# (korvalinex-sim.exe) is checked the same way: a 32-bit console program
# that needs only system DLLs.
#
# Environment: KVX_RELEASE_WIN_BUILD (the 32-bit build directory),
# KVX_SOURCE_DIR.
set -u
: "${KVX_RELEASE_WIN_BUILD:?KVX_RELEASE_WIN_BUILD must name the 32-bit build}"
: "${KVX_SOURCE_DIR:?KVX_SOURCE_DIR must name the source directory}"
exe=$KVX_RELEASE_WIN_BUILD/korvalinex.exe
objdump=i686-w64-mingw32-objdump
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

[[ -f $exe ]] || { echo "FAIL: no $exe" >&2; exit 1; }
command -v "$objdump" >/dev/null || { echo "FAIL: no $objdump" >&2; exit 1; }
headers=$("$objdump" -f -p "$exe") || { echo "FAIL: $objdump cannot read $exe" >&2; exit 1; }

[[ $headers == *"file format pei-i386"* ]] || fail "not a 32-bit x86 PE"
grep -Eq '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)' <<<"$headers" ||
  fail "optional header is not PE32"
grep -Eq '^Subsystem[[:space:]]+00000002[[:space:]]+\(Windows GUI\)' <<<"$headers" ||
  fail "not the GUI subsystem"

# Its size: the program is compiled for size and links only the parts of
# the runtime it uses; a bound keeps that from creeping back unseen.
size_limit=600000
size=$(stat -c %s "$exe")
((size <= size_limit)) ||
  fail "$exe is $size bytes, more than $size_limit (see docs/benchmarks.md, size by part)"

# Every DLL the program imports is one of the system's own.
system_dlls=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll user32.dll winmm.dll wsock32.dll "
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z')
[[ -n $dlls ]] || fail "no imports found"
for dll in $dlls; do
  [[ $system_dlls == *" $dll "* ]] || fail "imports $dll, which is not a system DLL"
done
grep -qx wsock32.dll <<<"$dlls" || fail "does not import WSOCK32.dll"
# What the program loads at its first use and not with its start: the save
# dialog's library, the shell's and the timer's (and the sound system,
# loaded by name, never imported). Under Wine each import is loaded with
# everything it brings before the first window opens.
for dll in comdlg32.dll shell32.dll winmm.dll dsound.dll; do
  grep -qx "$dll" <<<"$dlls" && fail "imports $dll, which it loads at its first use"
done

# The version block: the version of the project, in the German block.
version=$(sed -n 's/^project(korvalinex VERSION \([0-9.]*\).*/\1/p' \
  "$KVX_SOURCE_DIR/CMakeLists.txt")
[[ -n $version ]] || fail "no project version in CMakeLists.txt"
texts=$(strings -el "$exe")
grep -qx "040704E4" <<<"$texts" || fail "no German (040704E4) version block"
grep -qx "FileVersion" <<<"$texts" || fail "no FileVersion"
grep -qx "$version" <<<"$texts" || fail "version $version not in the version block"
grep -qx "korvalinex.exe" <<<"$texts" || fail "no OriginalFilename korvalinex.exe"

# The simulator that ships beside it, for a trial without a board: a 32-bit
# console program that needs no DLL beyond the system's own either.
sim=$KVX_RELEASE_WIN_BUILD/korvalinex-sim.exe
if [[ -f $sim ]]; then
  sim_headers=$("$objdump" -f -p "$sim") || fail "$objdump cannot read $sim"
  [[ $sim_headers == *"file format pei-i386"* ]] || fail "$sim is not a 32-bit x86 PE"
  grep -Eq '^Subsystem[[:space:]]+00000003[[:space:]]+\(Windows CUI\)' <<<"$sim_headers" ||
    fail "$sim is not a console program"
  sim_dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$sim_headers" | tr 'A-Z' 'a-z')
  for dll in $sim_dlls; do
    [[ " kernel32.dll msvcrt.dll ws2_32.dll " == *" $dll "* ]] ||
      fail "$sim imports $dll, which is not a system DLL"
  done
else
  fail "no $sim"
fi

((failed == 0)) || exit 1
echo "PASS: $exe: PE32, GUI, $size bytes, imports $(echo $dlls), version $version"
echo "PASS: $sim: PE32, console, imports $(echo $sim_dlls)"
