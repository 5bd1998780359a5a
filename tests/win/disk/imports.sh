#!/usr/bin/env bash
# Fails when the disk backend imports a Win32 function outside the set it
# is meant to use, all of which Windows NT 4.0 already has (the i686 build
# runs on XP).   imports.sh NM LIBRARY...
set -eu
nm=$1
shift
allowed="CloseHandle CreateFileA DeviceIoControl GetEnvironmentVariableA GetFileSize
  GetLastError ReadFile SetFilePointer SetLastError WriteFile"
bad=0
for name in $("$nm" -u "$@" | sed -n 's/.* _*_imp_*\([A-Za-z0-9_]*\).*/\1/p' | sort -u); do
  if grep -qw "$name" <<<"$allowed"; then
    echo "ok   $name"
  else
    echo "FAIL $name is not in the backend's import set"
    bad=1
  fi
done
exit $bad
