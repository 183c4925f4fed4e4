; The player's installer: puts Launcher.exe into a folder the player chooses, adds Start-menu and
; desktop shortcuts and an uninstaller. The launcher then installs and updates the game itself.
; makensis -DLAUNCHER_EXE=... -DICON=... -DVERSION=1.0.0.0 -DOUTFILE=... installer.nsi
Unicode true
; A 64-bit installer for the 64-bit program (and for a Wine without 32-bit support).
Target amd64-unicode
!include "MUI2.nsh"

!define PRODUCT "Veldmoor Launcher"
; The key of the entry in the list of installed programs.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VeldmoorLauncher"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Per player, in a folder the player owns: the launcher replaces its own files when it updates
; itself, which needs no administrator rights there.
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1031 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1031 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1031 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "CompanyName" "Veldmoor"
VIAddVersionKey /LANG=1031 "LegalCopyright" "Veldmoor"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Launcher.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "German"

Section "Launcher"
  ; The shortcuts start the launcher in its own folder, which its start-up relies on.
  SetOutPath "$INSTDIR"
  File "/oname=Launcher.exe" "${LAUNCHER_EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Launcher.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} entfernen.lnk" "$INSTDIR\Uninstall.exe"
  CreateShortCut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\Launcher.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Veldmoor"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Launcher.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes only what this installer put down and the launcher's temporary copy. The game
; installation, the player's profiles and anything else in the folder stay: the folder itself
; goes only when nothing is left in it.
Section "Uninstall"
  Delete "$DESKTOP\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT} entfernen.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  Delete "$INSTDIR\Launcher.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$TEMP\VeldmoorLauncher\Launcher.exe"
  RMDir "$TEMP\VeldmoorLauncher"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
