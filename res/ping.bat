@echo off
rem The connectivity check the window's button runs: a few pings of the server
rem address stored in brin.ini, beside this script. Edit it as you like.
setlocal
cd /d "%~dp0"
set ip=
if exist brin.ini for /f "usebackq tokens=1,* delims== " %%a in ("brin.ini") do if /i "%%a"=="IP" if not defined ip set "ip=%%b"
if not defined ip (
    echo brin.ini holds no server address ^(IP^): set it in the settings.
    pause
    exit /b 1
)
echo ping %ip%
ping -n 4 -w 2000 %ip%
pause
