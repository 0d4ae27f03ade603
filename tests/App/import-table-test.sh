#!/usr/bin/env bash
# The installer's static import table names only DLLs on Windows' KnownDLLs
# list: any other DLL it named would be looked for beside the executable
# (in Downloads, say) before its entry could restrict the search. The rest
# must be delay-loaded. Usage: import-table-test.sh INSTALLER.exe
set -euo pipefail
exe=${1:?usage: import-table-test.sh INSTALLER.exe}

# KnownDLLs of Windows 10 and 11 (HKLM\SYSTEM\CurrentControlSet\Control\
# Session Manager\KnownDLLs), lower case.
known=" advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32
  kernel32 msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore
  shell32 shlwapi user32 wldap32 ws2_32 "

dump="$(x86_64-w64-mingw32-objdump -p "$exe")"
# (binutils' delay-load libraries leave no entry in the data directory, so
# every "DLL Name" objdump prints belongs to the static import table.)
static="$(sed -n 's/^\s*DLL Name: \(.*\)\.dll$/\1/Ip' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)"

[[ -n $static ]] || { echo "FAIL: no import table read from $exe"; exit 1; }
status=0
for dll in $static; do
  if [[ $known != *" $dll "* ]]; then
    echo "FAIL: $dll.dll is imported statically but is not a KnownDLL (delay-load it)"
    status=1
  fi
done
echo "static imports: $(echo $static)"
exit $status
