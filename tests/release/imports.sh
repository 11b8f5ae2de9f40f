#!/usr/bin/env bash
# brinq.exe binds at start only libraries that Windows takes from System32 alone, and opens every
# file by its UTF-16 name: none of the file functions that take a name in the code page, nor the
# C library's that do, may come back into its import table, which is what shows under Wine (it
# makes short names for every file) that no short name is needed.
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
# Windows looks for any other library beside the program first: every one bound at start must
# be a known library of the system, and the rest are bound late, after the search is narrowed.
known=" ADVAPI32 GDI32 KERNEL32 MSVCRT USER32 SHELL32 COMBASE OLE32 OLEAUT32 RPCRT4 SECHOST SHLWAPI IMM32 WS2_32 NTDLL "
for dll in $(cut -d: -f1 <<<"$imports" | sort -u); do
  name=$(tr a-z A-Z <<<"${dll%.*}")
  [[ $known == *" $name "* ]] || { echo "FAILED: $dll is bound at start and is no known library"; failed=1; }
done
grep -qx "KERNEL32.dll:SetDefaultDllDirectories" <<<"$imports" ||
  { echo "FAILED: the library search is never narrowed to System32"; failed=1; }
delayed=$(x86_64-w64-mingw32-nm "$1" | sed -n 's/.* __DELAY_IMPORT_DESCRIPTOR_lib\(.*\)_delayed_a$/\1/p' | sort | tr '\n' ' ')
[ -n "$delayed" ] || { echo "FAILED: no library bound late"; failed=1; }
[ $failed = 0 ] && echo "ok:     $(wc -l <<<"$imports") imports from $(cut -d: -f1 <<<"$imports" | sort -u | tr '\n' ' ')bound late: $delayed; none of: $(echo $banned)"
exit $failed
