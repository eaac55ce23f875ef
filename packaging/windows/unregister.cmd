@echo off
rem Takes pvl_mci.dll away as the media driver for the device type "pvl_mci".
rem Run it as administrator: right-click it, "Run as administrator".
"%SystemRoot%\System32\regsvr32.exe" /u "%~dp0pvl_mci.dll"
