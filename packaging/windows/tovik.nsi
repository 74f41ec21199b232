; The Windows installer of the Tovik service tool: the programs go into
; Program Files\Tovik, that folder onto the system's PATH; the uninstaller
; takes both away again. scripts/build-windows makes it:
;
;   makensis -DVERSION=0.1.0 -DFILES=files.nsh -DUNFILES=unfiles.nsh \
;            -DOUTFILE=tovik-setup.exe packaging/windows/tovik.nsi
;
; FILES lists the programs as `File` lines, UNFILES the same programs as
; `Delete` lines, so that the uninstaller removes only what was installed.
;
; The PATH is edited in memory of its own size, not in NSIS strings, which
; hold 1024 characters: a longer PATH (common on engineers' machines) is
; kept whole, never cut.

Unicode true
Target amd64-unicode

!include LogicLib.nsh
!include WinMessages.nsh

!ifndef VERSION | FILES | UNFILES | OUTFILE
  !error "Give -DVERSION, -DFILES, -DUNFILES and -DOUTFILE (see the head of this file)"
!endif

!define PRODUCT "Tovik"
!define ENV_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tovik"
!define HKLM_HANDLE 0x80000002
!define KEY_QUERY_AND_SET 0x0003
!define REG_SZ 1
!define REG_EXPAND_SZ 2

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" ""

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; PathEdit: adds a folder to the system's PATH or removes it.
;   Push "add" or "remove"
;   Push FOLDER
;   Call PathEdit (un.PathEdit in the uninstaller)
; A folder already there is not added twice; every entry naming it (also
; with a trailing backslash, in any letter case) is removed. Everything
; else in PATH stays as it was, and so does the value's type.
!macro PATH_EDIT UN
Function ${UN}PathEdit
  Exch $1 ; folder
  Exch
  Exch $0 ; "add" or "remove"
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  Push $9

  System::Call 'advapi32::RegOpenKeyExW(p ${HKLM_HANDLE}, w "${ENV_KEY}", i 0, i ${KEY_QUERY_AND_SET}, *p .r2) i .r3'
  ${If} $3 <> 0
    DetailPrint "PATH not changed: the environment key cannot be opened (error $3)"
    Goto done
  ${EndIf}
  ; Size and type of the value; a missing value is an empty PATH.
  System::Call 'advapi32::RegQueryValueExW(p r2, w "Path", p 0, *i .r4, p 0, *i .r5) i .r3'
  ${If} $3 <> 0
    StrCpy $4 ${REG_EXPAND_SZ}
    StrCpy $5 0
  ${ElseIf} $4 <> ${REG_EXPAND_SZ}
  ${AndIf} $4 <> ${REG_SZ}
    DetailPrint "PATH not changed: it is not text (type $4)"
    Goto close
  ${EndIf}
  ; The buffer holds ";" PATH ";" and the folder with room to spare, zeroed.
  StrLen $6 $1
  IntOp $7 $5 + 16
  IntOp $6 $6 * 2
  IntOp $7 $7 + $6
  System::Alloc $7
  Pop $6
  ${If} $6 = 0
    DetailPrint "PATH not changed: out of memory"
    Goto close
  ${EndIf}
  System::Call 'kernel32::lstrcpyW(p r6, w ";")'
  ${If} $5 > 0
    IntPtrOp $8 $6 + 2
    System::Call 'advapi32::RegQueryValueExW(p r2, w "Path", p 0, p 0, p r8, *i r5) i .r3'
    ${If} $3 <> 0
      DetailPrint "PATH not changed: it cannot be read (error $3)"
      Goto free
    ${EndIf}
  ${EndIf}
  System::Call 'kernel32::lstrcatW(p r6, w ";")'

  ${If} $0 == "add"
    StrCpy $9 ";$1;"
    System::Call 'shlwapi::StrStrIW(p r6, w r9) p .r8'
    ${If} $8 = 0
      StrCpy $9 ";$1\;"
      System::Call 'shlwapi::StrStrIW(p r6, w r9) p .r8'
    ${EndIf}
    ${If} $8 <> 0
      DetailPrint "$1 is already on the PATH"
      Goto free
    ${EndIf}
    ; The old PATH without the separators at its end, then ";" and the folder.
    System::Call 'kernel32::lstrlenW(p r6) i .r3'
    ${DoWhile} $3 > 1
      IntOp $7 $3 - 1
      IntOp $7 $7 * 2
      IntPtrOp $8 $6 + $7
      System::Call '*$8(&i2 .r9)'
      ${If} $9 <> 59 ; ';'
        ${Break}
      ${EndIf}
      System::Call '*$8(&i2 0)'
      IntOp $3 $3 - 1
    ${Loop}
    ${If} $3 > 1
      StrCpy $9 ";$1"
    ${Else}
      StrCpy $9 "$1" ; an empty PATH gets the folder alone
    ${EndIf}
    System::Call 'kernel32::lstrcatW(p r6, w r9)'
  ${Else}
    StrLen $7 $1
    IntOp $7 $7 + 1 ; ";" and the folder
    ${Do}
      StrCpy $9 ";$1;"
      System::Call 'shlwapi::StrStrIW(p r6, w r9) p .r8'
      ${If} $8 = 0
        StrCpy $9 ";$1\;"
        System::Call 'shlwapi::StrStrIW(p r6, w r9) p .r8'
        ${If} $8 = 0
          ${Break}
        ${EndIf}
        IntOp $7 $7 + 1
      ${EndIf}
      ; Move the rest, from the ";" after the entry, over the entry.
      IntOp $9 $7 * 2
      IntPtrOp $9 $8 + $9
      System::Call 'kernel32::lstrlenW(p r9) i .r3'
      IntOp $3 $3 + 1
      IntOp $3 $3 * 2
      System::Call 'kernel32::RtlMoveMemory(p r8, p r9, p r3)'
      StrLen $7 $1
      IntOp $7 $7 + 1
    ${Loop}
    ; Drop the ";" added at the end.
    System::Call 'kernel32::lstrlenW(p r6) i .r3'
    IntOp $3 $3 - 1
    IntOp $3 $3 * 2
    IntPtrOp $8 $6 + $3
    System::Call '*$8(&i2 0)'
  ${EndIf}

  ; The new value starts after the ";" put in front.
  IntPtrOp $8 $6 + 2
  System::Call 'kernel32::lstrlenW(p r8) i .r3'
  IntOp $3 $3 + 1
  IntOp $3 $3 * 2
  System::Call 'advapi32::RegSetValueExW(p r2, w "Path", i 0, i r4, p r8, i r3) i .r3'
  ${If} $3 <> 0
    DetailPrint "PATH not changed: it cannot be written (error $3)"
  ${ElseIf} $0 == "add"
    DetailPrint "Added $1 to the PATH"
  ${Else}
    DetailPrint "Removed $1 from the PATH"
  ${EndIf}
  ; Programs started from now on see the new PATH.
  System::Call 'user32::SendMessageTimeoutW(p 0xffff, i ${WM_SETTINGCHANGE}, p 0, w "Environment", i 2, i 5000, *p .r3)'
free:
  System::Free $6
close:
  System::Call 'advapi32::RegCloseKey(p r2)'
done:
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $0
  Pop $1
FunctionEnd
!macroend
!insertmacro PATH_EDIT ""
!insertmacro PATH_EDIT "un."

Section "Install"
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  Push "add"
  Push "$INSTDIR"
  Call PathEdit
SectionEnd

Section "Uninstall"
  Push "remove"
  Push "$INSTDIR"
  Call un.PathEdit
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
