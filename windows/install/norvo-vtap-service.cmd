@echo off
rem Installs or removes the NorvoVTap service. Run from an elevated prompt.
rem   norvo-vtap-service.cmd install [path\to\norvo-vtap.exe]
rem       creates the service (own process, started at boot) for the exe, by default the
rem       norvo-vtap.exe beside this script; start it now with: sc.exe start NorvoVTap
rem   norvo-vtap-service.cmd remove
rem       stops the service if it runs and removes it
setlocal
set SERVICE=NorvoVTap
if /i "%~1"=="install" goto install
if /i "%~1"=="remove" goto remove
echo usage: %~nx0 install [path\to\norvo-vtap.exe] ^| remove 1>&2
exit /b 2

:install
set "EXE=%~f2"
if "%~2"=="" set "EXE=%~dp0norvo-vtap.exe"
if not exist "%EXE%" (
    echo %EXE% not found 1>&2
    exit /b 1
)
sc.exe create %SERVICE% binPath= "\"%EXE%\"" type= own start= auto DisplayName= "NorvoVTap"
if errorlevel 1 exit /b 1
exit /b 0

:remove
sc.exe query %SERVICE% >nul 2>&1
if errorlevel 1 (
    echo %SERVICE% is not installed 1>&2
    exit /b 1
)
sc.exe stop %SERVICE% >nul 2>&1
sc.exe delete %SERVICE%
if errorlevel 1 exit /b 1
exit /b 0
