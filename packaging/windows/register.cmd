@echo off
rem Makes pvl_mci.dll, in this folder, the media driver for the device type
rem "pvl_mci". Run it as administrator: right-click it, "Run as administrator".
"%SystemRoot%\System32\regsvr32.exe" "%~dp0pvl_mci.dll"
if errorlevel 1 (
  echo pvl_mci.dll could not be registered. Run register.cmd as administrator.
  echo If this folder's path has spaces and the drive keeps no short names,
  echo move the folder to a path without spaces and run it again.
  echo README.txt, Troubleshooting, says more.
  exit /b 1
)
