; Per-user installer for the Windows program folder. makensis gets VERSION, PUBLISHER, STAGE (the staged
; program folder), FILELIST (an include file with the uninstaller's Delete/RMDir lines for what STAGE
; holds), ART (the icon and the pictures scripts/build-windows made from our artwork) and OUTFILE.
;
; The program keeps config.ini, Maps\ and Recordings\ beside itself, so it goes where the user may
; write: %LOCALAPPDATA%\Programs\OE Setup by default, never a folder the user cannot write (no
; administrator rights are asked for, so Program Files is refused).

; A 64-bit installer for a 64-bit program: it runs wherever the program can.
Target amd64-unicode
!include "MUI2.nsh"
!include "FileFunc.nsh"

Name "OE Setup ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\OE Setup"
InstallDirRegKey HKCU "Software\OE Setup" "InstallDir"
RequestExecutionLevel user
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
; Our name at the foot of every page, not the installer maker's.
BrandingText "OE Setup ${VERSION}"
; The last line of both the installer's and the uninstaller's list: a word that fits either.
CompletedText "$(DoneText)"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "OE Setup"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "OE Setup installer"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OE Setup"

!define MUI_ICON "${ART}\oe-setup.ico"
!define MUI_UNICON "${ART}\oe-setup.ico"
!define MUI_HEADERIMAGE
!define MUI_HEADERIMAGE_RIGHT
!define MUI_HEADERIMAGE_BITMAP "${ART}\header.bmp"
!define MUI_HEADERIMAGE_UNBITMAP "${ART}\header.bmp"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${ART}\welcome.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${ART}\welcome.bmp"
!define MUI_ABORTWARNING
; The language chosen at install is kept; the uninstaller speaks it without asking again.
!define MUI_LANGDLL_REGISTRY_ROOT "HKCU"
!define MUI_LANGDLL_REGISTRY_KEY "Software\OE Setup"
!define MUI_LANGDLL_REGISTRY_VALUENAME "Installer Language"
; The language box is shown before any language is chosen, so it speaks both.
!define MUI_LANGDLL_WINDOWTITLE "OE Setup ${VERSION}"
!define MUI_LANGDLL_INFO "Lingua dell'installazione / Language of the installation:"

!define MUI_WELCOMEPAGE_TITLE "$(WelcomeTitle)"
!define MUI_WELCOMEPAGE_TEXT "$(WelcomeText)"
!insertmacro MUI_PAGE_WELCOME
!define MUI_DIRECTORYPAGE_TEXT_TOP "$(DirectoryText)"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckFolderWritable
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "$(FinishTitle)"
!define MUI_FINISHPAGE_TEXT "$(FinishText)"
!define MUI_FINISHPAGE_RUN "$INSTDIR\oe-setup.exe"
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "$(UninstallText)"
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "$(UninstallDoneTitle)"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "$(UninstallDoneText)"
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the default where the system's is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Italian"

LangString WelcomeTitle ${LANG_ENGLISH} "OE Setup ${VERSION}"
LangString WelcomeTitle ${LANG_ITALIAN} "OE Setup ${VERSION}"
LangString WelcomeText ${LANG_ENGLISH} "The setup program for the electronic valve oiler: live readings, the eight parameters and map files, over a serial cable.$\r$\n$\r$\nIt is installed for you alone, in a folder of yours: no administrator rights are needed. Your maps and recordings are kept in its Maps and Recordings folders."
LangString WelcomeText ${LANG_ITALIAN} "Il programma di configurazione dell'oliatore elettronico: letture in tempo reale, gli otto parametri e le mappe, tramite il cavo seriale.$\r$\n$\r$\nViene installato solo per te, in una tua cartella: non servono i diritti di amministratore. Mappe e registrazioni restano nelle sue cartelle Maps e Recordings."
LangString DirectoryText ${LANG_ENGLISH} "OE Setup keeps its settings, maps and recordings in its own folder, so the folder must be one you can write to. The proposed one is yours; Program Files is not."
LangString DirectoryText ${LANG_ITALIAN} "OE Setup tiene impostazioni, mappe e registrazioni nella propria cartella, che deve quindi essere scrivibile da te. Quella proposta è tua; Programmi non lo è."
LangString NotWritable ${LANG_ENGLISH} "You cannot write to this folder:$\r$\n$INSTDIR$\r$\n$\r$\nChoose a folder of your own, for example the one proposed."
LangString NotWritable ${LANG_ITALIAN} "Non puoi scrivere in questa cartella:$\r$\n$INSTDIR$\r$\n$\r$\nScegli una tua cartella, per esempio quella proposta."
LangString FinishTitle ${LANG_ENGLISH} "OE Setup is installed"
LangString FinishTitle ${LANG_ITALIAN} "OE Setup è installato"
LangString FinishText ${LANG_ENGLISH} "Start it from the Start menu. Connect the cable to the controller, choose its COM port and press CONNECT."
LangString FinishText ${LANG_ITALIAN} "Avvialo dal menu Start. Collega il cavo alla centralina, scegli la sua porta COM e premi CONNETTI."
LangString UninstallText ${LANG_ENGLISH} "OE Setup will be removed from this computer. Your maps (Maps folder) and recordings (Recordings folder) stay where they are."
LangString UninstallText ${LANG_ITALIAN} "OE Setup verrà rimosso da questo computer. Le mappe (cartella Maps) e le registrazioni (cartella Recordings) restano dove sono."
LangString UninstallDoneTitle ${LANG_ENGLISH} "OE Setup is removed"
LangString UninstallDoneTitle ${LANG_ITALIAN} "OE Setup è stato rimosso"
LangString UninstallDoneText ${LANG_ENGLISH} "Your maps and recordings were kept."
LangString UninstallDoneText ${LANG_ITALIAN} "Mappe e registrazioni sono state conservate."
LangString DoneText ${LANG_ENGLISH} "Done"
LangString DoneText ${LANG_ITALIAN} "Fatto"
LangString KeptFolder ${LANG_ENGLISH} "Kept: $INSTDIR\$0"
LangString KeptFolder ${LANG_ITALIAN} "Conservata: $INSTDIR\$0"

Function .onInit
  !insertmacro MUI_LANGDLL_DISPLAY
FunctionEnd

Function un.onInit
  !insertmacro MUI_UNGETLANGUAGE
FunctionEnd

; A folder is taken only when a file can be made in it: the only honest test of the rights a user has.
Function CheckFolderWritable
  ClearErrors
  CreateDirectory "$INSTDIR"
  FileOpen $0 "$INSTDIR\oe-setup-write-test.tmp" w
  IfErrors 0 writable
    RMDir "$INSTDIR" ; only when it is empty, i.e. when we just made it
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(NotWritable)" /SD IDOK
    Abort
  writable:
  FileClose $0
  Delete "$INSTDIR\oe-setup-write-test.tmp"
FunctionEnd

Section "OE Setup"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*"
  CreateDirectory "$INSTDIR\Maps"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\OE Setup.lnk" "$INSTDIR\oe-setup.exe" "" "$INSTDIR\oe-setup.exe" 0
  WriteRegStr HKCU "Software\OE Setup" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "OE Setup"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\oe-setup.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ; The size the installed-apps list shows, in KB.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; Removes exactly what the installer put there, plus the settings file; Maps\ and Recordings\ hold the
; user's work and stay, and so does the folder while it is not empty.
Section "Uninstall"
  !include "${FILELIST}"
  Delete "$INSTDIR\config.ini"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\OE Setup.lnk"
  RMDir "$INSTDIR\Maps"
  RMDir "$INSTDIR\Recordings"
  StrCpy $0 "Maps"
  IfFileExists "$INSTDIR\Maps\*.*" 0 +2
    DetailPrint "$(KeptFolder)"
  StrCpy $0 "Recordings"
  IfFileExists "$INSTDIR\Recordings\*.*" 0 +2
    DetailPrint "$(KeptFolder)"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\OE Setup"
SectionEnd
