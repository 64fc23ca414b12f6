; The demo installer embedded into the launcher: it installs the demo application as
; Ostrevan.exe into the Ostrevan folder of the per-user local application data directory.
;
; Built by inputs/demo_installer.cmake with
;   makensis -DAPP_EXE=<built demo application> -DOUT_FILE=<installer to write> installer.nsi
;
; Started with /S it installs without any user interface. Exit status: 0 after a complete
; installation; 1 when the user cancels the interactive installation; 2 when the file cannot be
; installed.

Unicode true
; Wine as used here runs 64-bit programs only.
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true

!ifndef APP_EXE
  !error "APP_EXE (the demo application to install) must be defined"
!endif
!ifndef OUT_FILE
  !error "OUT_FILE (the installer to write) must be defined"
!endif

Name "Ostrevan"
Caption "Ostrevan"
OutFile "${OUT_FILE}"
ShowInstDetails nevershow
AutoCloseWindow true
; The folder is decided in .onInit; there is no directory page to change it.
InstallDir "$LOCALAPPDATA\Ostrevan"

; Only the keys the shipped installer carries.
!pragma warning disable 9100
VIProductVersion "1.0.2.0"
VIFileVersion "1.0.2.0"
VIAddVersionKey /LANG=1033 "ProductName" "Ostrevan"
VIAddVersionKey /LANG=1033 "FileDescription" "Ostrevan"
VIAddVersionKey /LANG=1033 "ProductVersion" "1.0.2"
VIAddVersionKey /LANG=1033 "FileVersion" "1.0.2"

Page instfiles

Function .onInit
  SetShellVarContext current
  ; The launcher looks for the application under the LOCALAPPDATA it was given, which the user's
  ; shell folder normally equals; follow the variable so that both always agree.
  ReadEnvStr $0 LOCALAPPDATA
  StrCmp $0 "" +2
    StrCpy $INSTDIR "$0\Ostrevan"
FunctionEnd

Section "Ostrevan"
  SetOverwrite on
  ClearErrors
  CreateDirectory "$INSTDIR"
  SetOutPath "$INSTDIR"
  IfErrors failed
  File "/oname=Ostrevan.exe" "${APP_EXE}"
  IfErrors failed
  IfFileExists "$INSTDIR\Ostrevan.exe" 0 failed
  SetErrorLevel 0
  Return
failed:
  DetailPrint "Ostrevan.exe could not be installed into $INSTDIR"
  SetErrorLevel 2
  Abort
SectionEnd
