; PanoviewSetup-<version>.exe: Panoview for one Windows user, without
; administrator rights.
;
;   makensis -DVERSION=1.0.0 -DPROGRAMS=<folder with Panoview.exe and
;            Brovia.exe> -DICON=<panoview.ico> -DOUTFILE=<setup.exe>
;            PanoviewSetup.nsi
;
; It installs under %LOCALAPPDATA%\Programs\Panoview, where Panoview.config
; beside the executable stays writable for the operator and the settings
; dialog; adds Panoview to the Start menu and to the programs started at
; logon (HKCU\...\Run); and registers its uninstaller in the user's list of
; programs. Panoview.config is never written by the installer: an upgrade
; keeps the factory's configuration, and so does the uninstaller (it removes
; the programs, the shortcuts, the registrations and the pages' browser
; profiles). A wall that is running is ended first (Panoview.exe and every
; Brovia.exe of the user); an upgrade starts the new Panoview again, so that
; the wall's login comes back by itself.
;
; /S installs or uninstalls silently; /D=<folder> (last on the command line)
; installs elsewhere.

Unicode true
ManifestDPIAware true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Panoview"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; The name of the mutex by which Panoview.exe knows that it already runs.
!define INSTANCE_MUTEX "14ACEF37-B7DE-48e7-B2BB-E3CBCD52E2D5"

Name "Panoview"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Panoview"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "Panoview"
VIAddVersionKey /LANG=0 "FileDescription" "Panoview Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "Loomhaven"
VIAddVersionKey /LANG=0 "LegalCopyright" "Loomhaven"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\Panoview.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; Chinese first: the factories' systems; English where the system is.
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

; Ends a running wall of this user: Panoview.exe (known by its mutex), then
; every Brovia.exe, which a Panoview ended this way leaves behind (each takes
; its browser with it). Waits until the mutex is gone, so that the files can
; be replaced. $0 is 1 when a Panoview was running, else 0.
!macro END_RUNNING_WALL un
Function ${un}EndRunningWall
  StrCpy $0 0
  System::Call 'kernel32::OpenMutexA(i 0x00100000, i 0, m "${INSTANCE_MUTEX}") i .r1'
  ${If} $1 <> 0
    System::Call 'kernel32::CloseHandle(i r1)'
    StrCpy $0 1
    DetailPrint "Panoview is running: ending it"
    nsExec::Exec '"$SYSDIR\taskkill.exe" /F /IM Panoview.exe'
    Pop $2
    ; At most 10 s for the process to go and its mutex with it.
    ${For} $3 1 50
      System::Call 'kernel32::OpenMutexA(i 0x00100000, i 0, m "${INSTANCE_MUTEX}") i .r1'
      ${If} $1 = 0
        ${Break}
      ${EndIf}
      System::Call 'kernel32::CloseHandle(i r1)'
      Sleep 200
    ${Next}
  ${EndIf}
  nsExec::Exec '"$SYSDIR\taskkill.exe" /F /IM Brovia.exe'
  Pop $2
FunctionEnd
!macroend
!insertmacro END_RUNNING_WALL ""
!insertmacro END_RUNNING_WALL "un."

Section "Panoview"
  SetShellVarContext current
  Call EndRunningWall
  StrCpy $R9 $0
  SetOutPath "$INSTDIR"
  ; An upgrade keeps Panoview.config: it is not among the files written.
  File "${PROGRAMS}\Panoview.exe"
  File "${PROGRAMS}\Brovia.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateShortcut "$SMPROGRAMS\Panoview.lnk" "$INSTDIR\Panoview.exe" "" "$INSTDIR\Panoview.exe" 0
  WriteRegStr HKCU "${RUN_KEY}" "Panoview" '"$INSTDIR\Panoview.exe"'

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Panoview"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Loomhaven"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Panoview.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $1

  ; The wall this upgrade ended comes back, at its login.
  ${If} $R9 = 1
    Exec '"$INSTDIR\Panoview.exe"'
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Call un.EndRunningWall
  Delete "$INSTDIR\Panoview.exe"
  Delete "$INSTDIR\Brovia.exe"
  Delete "$INSTDIR\Uninstall.exe"
  ; The folder goes with them unless it still holds the factory's
  ; Panoview.config.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Panoview.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "Panoview"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; The pages' browser profiles and the wall's metrics file.
  RMDir /r "$LOCALAPPDATA\Panoview\pages"
  Delete "$LOCALAPPDATA\Panoview\panoview.prom"
  RMDir "$LOCALAPPDATA\Panoview"
SectionEnd
