@echo off
rem Makes pvl_mci.dll, in this folder, the media driver for the device type
rem "pvl_mci". Run it as administrator: right-click it, "Run as administrator".
"%SystemRoot%\System32\regsvr32.exe" "%~dp0pvl_mci.dll"
