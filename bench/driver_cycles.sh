#!/usr/bin/env bash
# The Windows driver opened and closed as the only device of a process:
# mci_client (tests/wine/driver/) runs under Wine in a fresh prefix where
# pvl_mci.dll is registered, opens the bundled piece with the silent output
# and closes it CYCLES times, and prints the process's growth and the time
# per cycle. Prints a line saying why when the Windows build or Wine is not
# there.
#
#   bench/driver_cycles.sh WINDOWS_BUILD_DIR [CYCLES]
set -euo pipefail
build=$(cd "$1" && pwd)
cycles=${2:-1000}
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
for f in "$build/mci_client.exe" "$build/pvl_mci.dll" "$build/no-sn.xm" \
         "$wine64" "$wineserver"; do
  if [ ! -e "$f" ]; then
    echo "driver open/close: skipped, $f is missing (scripts/test makes the Windows build)"
    exit 0
  fi
done

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/mciplay-bench-wine.XXXXXX")
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
"$wine64" wineboot -i </dev/null >/dev/null 2>&1
"$wine64" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\MCI' \
  /v pvl_mci /t REG_SZ /d "$("$wine64" winepath -w "$build/pvl_mci.dll")" \
  /f >/dev/null
"$wineserver" -w

echo "driver open/close as the only device, under Wine ($cycles cycles after the first)"
PVL_MCI_OUTPUT=null "$wine64" "$build/mci_client.exe" cycles \
  "$("$wine64" winepath -w "$build/no-sn.xm")" "$cycles" </dev/null
