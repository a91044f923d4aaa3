#!/usr/bin/env bash
# Fails when an exe or DLL under DIR imports a DLL that is neither in DIR
# (or the folder of the file itself) nor one Windows itself has, so that
# the program starts on a clean Windows:
#   tools/check-windows-imports.sh build-windows/dist
set -euo pipefail
dir=${1:?usage: check-windows-imports.sh DIR}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

# What every Windows 10 and later has in System32 (lower case). The C
# runtime is the system's msvcrt, which mingw-w64 links by default.
system="kernel32 user32 gdi32 advapi32 shell32 ole32 oleaut32 comdlg32 comctl32 ws2_32 winmm imm32
uxtheme dwmapi version shlwapi setupapi d3d9 d3d11 d3d12 dxgi dwrite d2d1 netapi32 userenv wtsapi32
mpr authz rpcrt4 crypt32 bcrypt secur32 iphlpapi msvcrt ntdll shcore winspool.drv cfgmgr32 powrprof
dbghelp psapi"

declare -A have
while IFS= read -r f; do
  have[$(basename "$f" | tr 'A-Z' 'a-z')]=1
done < <(find "$dir" -type f \( -iname '*.dll' -o -iname '*.exe' \))
for s in $system; do
  case $s in *.*) have[$s]=1 ;; *) have[$s.dll]=1 ;; esac
done

status=0
checked=0
while IFS= read -r f; do
  checked=$((checked + 1))
  while IFS= read -r dll; do
    lower=$(echo "$dll" | tr 'A-Z' 'a-z')
    case $lower in api-ms-win-*|ext-ms-win-*) continue ;; esac
    if [ -z "${have[$lower]:-}" ]; then
      echo "check-windows-imports: ${f#"$dir"/} needs $dll, which is neither beside it nor part of Windows" >&2
      status=1
    fi
  done < <("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
done < <(find "$dir" -type f \( -iname '*.dll' -o -iname '*.exe' \) | sort)
[ "$checked" -gt 0 ] || { echo "check-windows-imports: nothing to check in $dir" >&2; exit 1; }
[ $status -eq 0 ] && echo "check-windows-imports: $checked files, every import found" >&2
exit $status
