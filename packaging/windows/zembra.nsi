; The Windows installer: makensis -DSTAGE=<folder> -DOUTDIR=<folder> zembra.nsi
; STAGE holds zembra.exe, zembra-cli.exe, NanumGothic.ttf, qt.conf, translations\qtbase_ko.qm
; and LICENSE.txt (scripts/win/make-installer.sh puts them there). Installs into Program
; Files with a Start-menu entry and a desktop shortcut; the uninstaller removes what was
; installed and leaves records and settings (in the user's application data) alone.
; "/S" installs and uninstalls silently.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "Zembra"
!define VERSION "4.2"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zembra"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTDIR}\Zembra-${VERSION}-setup.exe"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "Software\${PRODUCT}" "InstallDir"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
LicenseData "${STAGE}\LICENSE.txt"

Section "Zembra"
  SetShellVarContext all
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${STAGE}\zembra.exe"
  File "${STAGE}\zembra-cli.exe"
  File "${STAGE}\NanumGothic.ttf"
  File "${STAGE}\qt.conf"
  File "${STAGE}\LICENSE.txt"
  SetOutPath "$INSTDIR\translations"
  File "${STAGE}\translations\qtbase_ko.qm"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\zembra.exe"
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\zembra.exe"

  WriteRegStr HKLM "Software\${PRODUCT}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zembra.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  ; The shortcuts go first, so that an uninstall cut short never leaves a shortcut to a
  ; program that is gone; the uninstall entry last, so that it is never left without one.
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  Delete "$DESKTOP\${PRODUCT}.lnk"

  Delete "$INSTDIR\zembra.exe"
  Delete "$INSTDIR\zembra-cli.exe"
  Delete "$INSTDIR\NanumGothic.ttf"
  Delete "$INSTDIR\qt.conf"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\translations\qtbase_ko.qm"
  RMDir "$INSTDIR\translations"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\${PRODUCT}"
SectionEnd
