@echo off
rem Installs or removes the NorvoVTap service. Run from an elevated prompt.
rem   norvo-vtap-service.cmd install [path\to\norvo-vtap.exe]
rem       copies the exe (by default the norvo-vtap.exe beside this script) and the vtapctl.exe
rem       beside it into %ProgramFiles%\NorvoVTap, creates the service (own process, started at
rem       boot) for the copy and registers the event-log source NorvoVTap;
rem       start it now with: sc.exe start NorvoVTap
rem   norvo-vtap-service.cmd remove
rem       stops the service if it runs and removes the service, the event-log source and the folder
setlocal
set SERVICE=NorvoVTap
rem The 64-bit Program Files also when run from a 32-bit prompt.
set "DEST=%ProgramFiles%\NorvoVTap"
if defined ProgramW6432 set "DEST=%ProgramW6432%\NorvoVTap"
set "INSTALLED=%DEST%\norvo-vtap.exe"
set "EVENTLOG_KEY=HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\%SERVICE%"
if /i "%~1"=="install" goto install
if /i "%~1"=="remove" goto remove
echo usage: %~nx0 install [path\to\norvo-vtap.exe] ^| remove 1>&2
exit /b 2

:install
set "EXE=%~f2"
if "%~2"=="" set "EXE=%~dp0norvo-vtap.exe"
if not exist "%EXE%" echo "%EXE%" not found 1>&2& exit /b 1
sc.exe query %SERVICE% >nul 2>&1
if not errorlevel 1 (
    echo %SERVICE% is already installed; remove it first 1>&2
    exit /b 1
)
rem A LocalSystem service must run from a folder only administrators can write to, never from
rem where the zip was unpacked. Each step's errorlevel is tested on a line of its own: some
rem command interpreters do not reset it where || would rely on that.
if not exist "%DEST%\" mkdir "%DEST%"
if not exist "%DEST%\" goto install_failed
copy /y "%EXE%" "%INSTALLED%" >nul
if errorlevel 1 goto install_failed
for %%D in ("%EXE%") do set "FROM=%%~dpD"
if exist "%FROM%vtapctl.exe" copy /y "%FROM%vtapctl.exe" "%DEST%\vtapctl.exe" >nul
if errorlevel 1 goto install_failed
sc.exe create %SERVICE% binPath= "\"%INSTALLED%\"" type= own start= auto DisplayName= "NorvoVTap"
if errorlevel 1 goto install_failed
sc.exe description %SERVICE% "Confirms the laptop's tap-sensor taps with the taps of the paired phone for local client applications." >nul
if errorlevel 1 goto install_failed
rem The exe's message table gives Event Viewer the text of the fatal-error reports (type error).
reg.exe add "%EVENTLOG_KEY%" /v EventMessageFile /t REG_EXPAND_SZ /d "%INSTALLED%" /f >nul
if errorlevel 1 goto install_failed
reg.exe add "%EVENTLOG_KEY%" /v TypesSupported /t REG_DWORD /d 1 /f >nul
if errorlevel 1 goto install_failed
exit /b 0

:install_failed
echo installing %SERVICE% failed; undoing it 1>&2
call :undo
exit /b 1

:remove
sc.exe query %SERVICE% >nul 2>&1
if errorlevel 1 (
    call :undo
    echo %SERVICE% is not installed 1>&2
    exit /b 1
)
rem net stop returns once the service has stopped, so its exe can be deleted.
net.exe stop %SERVICE% >nul 2>&1
sc.exe delete %SERVICE%
if errorlevel 1 exit /b 1
call :undo
if errorlevel 1 exit /b 1
exit /b 0

rem Removes the event-log source and the folder, whatever of them exists.
:undo
sc.exe delete %SERVICE% >nul 2>&1
reg.exe query "%EVENTLOG_KEY%" >nul 2>&1
if not errorlevel 1 reg.exe delete "%EVENTLOG_KEY%" /f >nul
if exist "%DEST%" rd /s /q "%DEST%"
if exist "%DEST%" echo "%DEST%" could not be removed 1>&2& exit /b 1
exit /b 0
