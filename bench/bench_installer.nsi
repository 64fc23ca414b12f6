; The benchmark installer: the demo application and a fixed, seeded, incompressible payload,
; stored uncompressed so that the installer reaches the shipped size.
;   makensis -DAPP_EXE=... -DPAYLOAD=... -DOUT_FILE=... bench_installer.nsi
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompress off
Name "Ostrevan"
OutFile "${OUT_FILE}"
InstallDir "$LOCALAPPDATA\Ostrevan"
Page instfiles

Function .onInit
  ReadEnvStr $0 LOCALAPPDATA
  StrCmp $0 "" +2
    StrCpy $INSTDIR "$0\Ostrevan"
FunctionEnd

Section "Ostrevan"
  SetOutPath "$INSTDIR"
  File "/oname=Ostrevan.exe" "${APP_EXE}"
  File "/oname=payload.bin" "${PAYLOAD}"
  SetErrorLevel 0
SectionEnd
