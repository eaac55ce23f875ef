#!/usr/bin/env bash
# Makes and removes the Wine prefixes the Wine tests run the Windows build in.
#
#   wine_prefix.sh setup STATE WINE64 WINESERVER EXE DLL ZIP CMAKE
#   wine_prefix.sh cleanup STATE WINESERVER
#
# setup makes a temporary folder with four prefixes: "registered", where the
# scripted driver DLL is the media driver for the device type pvl_mci;
# "bare", where no such driver is known; "package", where the Windows
# package ZIP is unzipped into a folder whose path holds spaces,
# C:\users\First Last\Downloads\mciplay-<version>-win64, and its
# register.cmd has made its pvl_mci.dll the driver, as a user does it; and
# "installer", fresh, for the installer's test to install into. It writes
# the folder's path into the file STATE. Exits 77 (the tests are then
# skipped) when the Windows build has not been made. cleanup stops the
# prefixes' Wine servers and removes the folder.
set -euo pipefail
# A step that fails says which; the prefixes' own logs are removed with
# them.
trap 'echo "$0: line $LINENO failed ($?): $BASH_COMMAND" >&2' ERR

export WINEDEBUG=-all
# No Mono or Gecko installer prompts and no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

mci_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\MCI'

# Stops the Wine servers of the prefixes in the folder named by the state
# file, removes the folder and the state file.
remove_prefixes() {
  local state=$1 root prefix
  [ -f "$state" ] || return 0
  root=$(cat "$state")
  for prefix in "$root/registered" "$root/bare" "$root/package" \
                "$root/installer"; do
    if [ -d "$prefix" ]; then
      WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    fi
  done
  case "$root" in
    */mciplay-wine.*) rm -rf "$root" ;;
  esac
  rm -f "$state"
}

make_prefix() {
  local prefix=$1
  mkdir -p "$prefix"
  if ! WINEPREFIX=$prefix "$wine64" wineboot -i </dev/null >"$prefix.log" 2>&1
  then
    cat "$prefix.log" >&2
    return 1
  fi
  WINEPREFIX=$prefix "$wineserver" -w
}

case "${1:-}" in
  setup)
    state=$2 wine64=$3 wineserver=$4 exe=$5 dll=$6 zip=$7 cmake=$8
    for f in "$exe" "$dll" "$zip"; do
      if [ ! -f "$f" ]; then
        echo "$f is missing: make the Windows build and its package" \
             "(cmake --preset windows && cmake --build --preset windows" \
             "--target all package) to run the Wine tests"
        exit 77
      fi
    done
    # A run that was cut short left its prefixes behind.
    remove_prefixes "$state"
    root=$(mktemp -d "${TMPDIR:-/tmp}/mciplay-wine.XXXXXX")
    echo "$root" >"$state"
    make_prefix "$root/registered"
    make_prefix "$root/bare"
    dll_path=$(WINEPREFIX=$root/registered "$wine64" winepath -w "$dll")
    WINEPREFIX=$root/registered "$wine64" reg add "$mci_key" /v pvl_mci \
      /t REG_SZ /d "$dll_path" /f >/dev/null
    WINEPREFIX=$root/registered "$wine64" reg query "$mci_key" /v pvl_mci
    WINEPREFIX=$root/registered "$wineserver" -w

    make_prefix "$root/package"
    downloads="$root/package/drive_c/users/First Last/Downloads"
    mkdir -p "$downloads"
    (cd "$downloads" && "$cmake" -E tar xf "$zip")
    folder=$(basename "$zip" .zip)
    WINEPREFIX=$root/package "$wine64" cmd /c \
      "C:\\users\\First Last\\Downloads\\$folder\\register.cmd" </dev/null
    WINEPREFIX=$root/package "$wine64" reg query "$mci_key" /v pvl_mci
    WINEPREFIX=$root/package "$wineserver" -w

    make_prefix "$root/installer"
    echo "Wine prefixes ready in $root"
    ;;
  cleanup)
    state=$2 wineserver=$3
    remove_prefixes "$state"
    ;;
  *)
    echo "usage: $0 setup STATE WINE64 WINESERVER EXE DLL ZIP CMAKE" >&2
    echo "       $0 cleanup STATE WINESERVER" >&2
    exit 2
    ;;
esac
