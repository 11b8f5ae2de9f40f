#!/usr/bin/env bash
# brinq.exe opens every file by its UTF-16 name: none of the file functions that take a name in
# the code page, nor the C library's that do, may come back into its import table, which is what
# shows under Wine (it makes short names for every file) that no short name is needed.
#   tests/release/imports.sh BRINQ_EXE
set -uo pipefail
imports=$(x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ {dll = $3} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll ":" $3}')
banned="CreateFileA FindFirstFileA FindFirstFileExA FindNextFileA GetFileAttributesA GetFileAttributesExA
SetFileAttributesA DeleteFileA MoveFileA MoveFileExA CopyFileA GetFullPathNameA GetShortPathNameW
GetShortPathNameA fopen remove rename"
failed=0
# The listing is read right only where it shows the wide calls that the program makes.
for wanted in KERNEL32.dll:CreateFileW KERNEL32.dll:FindFirstFileW msvcrt.dll:_wfopen; do
  grep -qx "$wanted" <<<"$imports" || { echo "FAILED: $wanted not among the imports"; failed=1; }
done
for name in $banned; do
  found=$(grep ":$name\$" <<<"$imports")
  [ -z "$found" ] || { echo "FAILED: imports $found"; failed=1; }
done
[ $failed = 0 ] && echo "ok:     $(wc -l <<<"$imports") imports, none of: $(echo $banned)"
exit $failed
