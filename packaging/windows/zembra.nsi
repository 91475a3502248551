; The Windows installer: makensis -DSTAGE=<folder> -DOUTDIR=<folder> zembra.nsi
; STAGE holds zembra.exe, zembra-cli.exe, NanumGothic.ttf, qt.conf, translations\qtbase_ko.qm
; and LICENSE.txt (scripts/win/make-installer.sh puts them there). Installs into Program
; Files with a Start-menu entry (and one for the uninstaller) and a desktop shortcut; the
; uninstaller removes what was installed and leaves records and settings (in the user's
; application data) alone. Pages, shortcuts and uninstaller speak Korean, or English on a
; Windows in another language.
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

; The pages in Korean, or in English where Windows speaks another language (NSIS picks the
; language of the user's Windows; Korean first, so Korean is the default).
!include "MUI2.nsh"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\zembra.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Korean"
!insertmacro MUI_LANGUAGE "English"

; Our own texts: the shortcuts' descriptions, the uninstall shortcut and the entry in "Apps".
LangString DESC_PROGRAM ${LANG_KOREAN} "휴대폰 펌웨어 다운로드"
LangString DESC_PROGRAM ${LANG_ENGLISH} "Phone firmware download"
LangString UNINSTALL_LINK ${LANG_KOREAN} "Zembra 제거"
LangString UNINSTALL_LINK ${LANG_ENGLISH} "Uninstall Zembra"

VIProductVersion "4.2.0.0"
VIAddVersionKey /LANG=${LANG_KOREAN} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_KOREAN} "FileDescription" "${PRODUCT} ${VERSION} 설치"
VIAddVersionKey /LANG=${LANG_KOREAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_KOREAN} "LegalCopyright" "LICENSE.txt"

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
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\zembra.exe" "" \
    "$INSTDIR\zembra.exe" 0 SW_SHOWNORMAL "" "$(DESC_PROGRAM)"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\$(UNINSTALL_LINK).lnk" "$INSTDIR\uninstall.exe"
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\zembra.exe" "" \
    "$INSTDIR\zembra.exe" 0 SW_SHOWNORMAL "" "$(DESC_PROGRAM)"
  ; The uninstaller speaks the language the program was installed in.
  WriteRegStr HKLM "Software\${PRODUCT}" "Language" "$LANGUAGE"

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
  Delete "$SMPROGRAMS\${PRODUCT}\$(UNINSTALL_LINK).lnk"
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

Function un.onInit
  SetRegView 64
  ReadRegStr $0 HKLM "Software\${PRODUCT}" "Language"
  StrCmp $0 "" +2
    StrCpy $LANGUAGE $0
FunctionEnd
