# What the installer adds to CPack's script: registering the driver after
# its files are in place, and unregistering it before they go.

# Makes the installed pvl_mci.dll the media driver of the device type
# pvl_mci, through the system's 64-bit regsvr32 (its DllRegisterServer). A
# failure is told, and the installer's exit code says it.
!macro RegisterDriver
  ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\pvl_mci.dll"' $0
  IntCmp $0 0 registered
    MessageBox MB_ICONEXCLAMATION|MB_OK "pvl_mci.dll could not be registered (regsvr32 exit code $0): mciplay will not find its driver. README.txt says why (Troubleshooting)." /SD IDOK
    SetErrorLevel 2
  registered:
!macroend

# Takes pvl_mci.dll away as the media driver, and the module extensions it
# claimed (its DllUnregisterServer).
!macro UnregisterDriver
  ExecWait '"$SYSDIR\regsvr32.exe" /s /u "$INSTDIR\pvl_mci.dll"'
!macroend
