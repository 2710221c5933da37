; The installer of the Windows release. LvMAPI takes the church database by a
; name relative to its own folder and writes its log, exchange files and
; Mail\ beside itself, so it goes into the main application's folder, where
; the database is. It runs with the user's own rights, so it can tell when
; that account could not write there.
;
; makensis -DVERSION=x.y.z -DFILES_DIR=<folder with install-files.nsh and
;          uninstall-files.nsh> -DOUTFILE=<setup.exe> windows-installer.nsi

; The programs are 64-bit, and so is the installer: it then runs wherever
; they do, also where no 32-bit layer is installed.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "LogicLib.nsh"

Name "LvMAPI ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\LvMAPI"
ShowInstDetails show
ShowUninstDetails show

Page directory "" "" CheckFolderWritable
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

DirText "Choose the folder of the church-management application: the folder that holds the church's database. LvMAPI keeps its log and mail folders beside it." \
  "Application folder"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\LvMAPI"

; True when this account can create and remove files in $INSTDIR (a folder
; that does not exist yet is created to find out). Under Program Files a
; standard account cannot, and LvMAPI would then fail at its first run.
Function CanWriteThere
  Pop $0
  ClearErrors
  CreateDirectory "$0"
  FileOpen $1 "$0\lvmapi-setup-check.tmp" w
  ${If} ${Errors}
    Push 0
    Return
  ${EndIf}
  FileClose $1
  Delete "$0\lvmapi-setup-check.tmp"
  Push 1
FunctionEnd

Function CheckFolderWritable
  Push "$INSTDIR"
  Call CanWriteThere
  Pop $0
  ${If} $0 == 0
    MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION \
      "This account cannot write in $INSTDIR.$\r$\n$\r$\nLvMAPI writes its log and mail folders beside itself, so it would fail there. Choose the application's folder in a place this account can write, or ask the administrator to give this account write access to it.$\r$\n$\r$\nInstall there anyway?" \
      /SD IDOK IDOK keep
    Abort
  keep:
  ${EndIf}
FunctionEnd

Section "LvMAPI"
  ; Only program files are written; LVEmailAccess.conf, the database and
  ; Mail\ are the office's own and never shipped, so an update leaves them.
  SetOverwrite on
  !include "${FILES_DIR}\install-files.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall LvMAPI.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "LvMAPI ${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall LvMAPI.exe"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Exactly the files installed; the folder itself goes only when nothing
  ; else (the database, the log, Mail\) is left in it.
  !include "${FILES_DIR}\uninstall-files.nsh"
  Delete "$INSTDIR\Uninstall LvMAPI.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
