; Per-user installer for the Windows program folder. makensis gets VERSION, STAGE (the staged program
; folder), FILELIST (an include file with the uninstaller's Delete/RMDir lines for what STAGE holds)
; and OUTFILE from scripts/build-windows.
;
; The program writes config.ini and Maps\ beside itself, so it goes where the user may write:
; %LOCALAPPDATA%\Programs\OE Setup, never under Program Files.

; A 64-bit installer for a 64-bit program: it runs wherever the program can.
Target amd64-unicode
!include "MUI2.nsh"

Name "OE Setup ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\OE Setup"
InstallDirRegKey HKCU "Software\OE Setup" "InstallDir"
RequestExecutionLevel user
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OE Setup"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\oe-setup.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the default where the system's is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Italian"

LangString KeepMaps ${LANG_ENGLISH} "Your map files stay in $INSTDIR\Maps."
LangString KeepMaps ${LANG_ITALIAN} "Le mappe restano in $INSTDIR\Maps."

Function .onInit
  !insertmacro MUI_LANGDLL_DISPLAY
FunctionEnd

Function un.onInit
  !insertmacro MUI_UNGETLANGUAGE
FunctionEnd

Section "OE Setup"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*"
  CreateDirectory "$INSTDIR\Maps"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\OE Setup.lnk" "$INSTDIR\oe-setup.exe"
  WriteRegStr HKCU "Software\OE Setup" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "OE Setup"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\oe-setup.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes exactly what the installer put there, plus the settings file; Maps\ holds the user's work
; and stays, and so does the folder while it is not empty.
Section "Uninstall"
  !include "${FILELIST}"
  Delete "$INSTDIR\config.ini"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\OE Setup.lnk"
  RMDir "$INSTDIR\Maps"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\OE Setup"
  IfFileExists "$INSTDIR\Maps\*.*" 0 +2
    DetailPrint "$(KeepMaps)"
SectionEnd
