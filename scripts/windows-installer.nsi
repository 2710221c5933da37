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
!include "nsDialogs.nsh"
!include "FileFunc.nsh"

Name "LvMAPI ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\LvMAPI"
ShowInstDetails show
ShowUninstDetails show

Page directory "" "" CheckFolderWritable
Page custom MailPage MailPageDone
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

DirText "Choose the folder of the church-management application: the folder that holds the church's database. LvMAPI keeps its log and mail folders beside it." \
  "Application folder"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\LvMAPI"

; True when this account can create and remove files in $INSTDIR (a folder
; that does not exist yet is created to find out). Under Program Files a
; standard account cannot.
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
    MessageBox MB_OK|MB_ICONEXCLAMATION \
      "This account cannot write in $INSTDIR, so nothing can be installed there.$\r$\n$\r$\nChoose the application's folder, or start the installer as an administrator when the application lies in Program Files (LvMAPI then keeps its files in the account's VirtualStore, where the application's are)."
    Abort
  ${EndIf}
FunctionEnd


; ----------------------------------------------------------------------
; The mail: how LVEmailAccess sends the mailings and fetches the replies.
; The choice is asked on a page, or given to a silent install:
;   /MAIL=outlook | microsoft365 | microsoft365-smtp+imap | google | maildir | smtp+imap
;     (microsoft365 goes through Microsoft Graph, which works with the
;     tenant's security defaults on; microsoft365-smtp+imap through
;     Exchange Online's SMTP and IMAP servers, which needs SMTP AUTH)
;   /ACCOUNT=office@church.example   the mailbox (Microsoft 365, Google, smtp+imap)
;   /PASSWORD=...   its password (smtp+imap; without it, LVEMAILACCESS_*_PASSWORD)
;   /SENDER="Office <office@church.example>"   the From of every mailing
;   /SMTP=mail.example.org:587 /IMAP=mail.example.org:993   (smtp+imap)
;   /CLIENTID=... the church's app registration (Microsoft 365, Google)
;   /CLIENTSECRET=... its secret (Google)   /TENANT=... (Microsoft 365, either road)
; Without /MAIL a silent install leaves the mail settings as they are.

Var Mail
Var Account
Var Password
Var Sender
Var SmtpServer
Var SmtpPort
Var ImapServer
Var ImapPort
Var ClientId
Var ClientSecret
Var Tenant
Var Dialog
Var ChoiceOutlook
Var ChoiceMicrosoft
Var ChoiceMicrosoftImap
Var ChoiceGoogle
Var ChoiceOther
Var ChoiceLocal
Var ChoiceKeep
Var FieldAccount
Var FieldPassword
Var FieldSmtp
Var FieldSmtpPort
Var FieldImap
Var FieldImapPort
Var FieldClientId
Var FieldClientSecret

; "host:port" into host ($R1) and port ($R2, `default` when none is given).
!macro SplitServer text default
  StrCpy $R1 "${text}"
  StrCpy $R2 "${default}"
  StrLen $R3 $R1
  ${Do}
    IntOp $R3 $R3 - 1
    ${IfThen} $R3 < 0 ${|} ${ExitDo} ${|}
    StrCpy $R4 $R1 1 $R3
    ${If} $R4 == ":"
      IntOp $R5 $R3 + 1
      StrCpy $R2 $R1 "" $R5
      StrCpy $R1 $R1 $R3
      ${ExitDo}
    ${EndIf}
  ${Loop}
!macroend

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/MAIL=" $Mail
  ${GetOptions} $R0 "/ACCOUNT=" $Account
  ${GetOptions} $R0 "/PASSWORD=" $Password
  ${GetOptions} $R0 "/SENDER=" $Sender
  ${GetOptions} $R0 "/CLIENTID=" $ClientId
  ${GetOptions} $R0 "/CLIENTSECRET=" $ClientSecret
  ${GetOptions} $R0 "/TENANT=" $Tenant
  ${GetOptions} $R0 "/SMTP=" $R6
  !insertmacro SplitServer $R6 587
  StrCpy $SmtpServer $R1
  StrCpy $SmtpPort $R2
  ${GetOptions} $R0 "/IMAP=" $R6
  !insertmacro SplitServer $R6 993
  StrCpy $ImapServer $R1
  StrCpy $ImapPort $R2
  ${If} $Mail != ""
  ${AndIf} $Mail != "outlook"
  ${AndIf} $Mail != "microsoft365"
  ${AndIf} $Mail != "microsoft365-smtp+imap"
  ${AndIf} $Mail != "google"
  ${AndIf} $Mail != "maildir"
  ${AndIf} $Mail != "smtp+imap"
    MessageBox MB_ICONSTOP "Unknown mail choice /MAIL=$Mail (outlook, microsoft365, microsoft365-smtp+imap, google, maildir or smtp+imap)." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  ${If} ${Silent}
  ${AndIf} $Mail != ""
    Call CheckMailChoice
  ${EndIf}
FunctionEnd

; What each choice needs given; a silent install without it stops before
; anything is installed. Microsoft 365 and Google sign in through the
; church's own app registration, so without its client ID (and Google's
; secret) the sign-in could never start.
Function CheckMailChoice
  StrCpy $0 ""
  ${If} $Mail == "microsoft365"
  ${OrIf} $Mail == "microsoft365-smtp+imap"
  ${OrIf} $Mail == "google"
  ${OrIf} $Mail == "smtp+imap"
    ${IfThen} $Account == "" ${|} StrCpy $0 "the account (/ACCOUNT=)" ${|}
  ${EndIf}
  ${If} $Mail == "microsoft365"
  ${OrIf} $Mail == "microsoft365-smtp+imap"
  ${OrIf} $Mail == "google"
    ${If} $0 == ""
    ${AndIf} $ClientId == ""
      StrCpy $0 "the client ID of the church's app registration (/CLIENTID=)"
    ${EndIf}
  ${EndIf}
  ${If} $Mail == "google"
  ${AndIf} $0 == ""
  ${AndIf} $ClientSecret == ""
    StrCpy $0 "the client secret of the church's OAuth client (/CLIENTSECRET=)"
  ${EndIf}
  ${If} $Mail == "smtp+imap"
  ${AndIf} $0 == ""
    ${If} $SmtpServer == ""
    ${OrIf} $ImapServer == ""
      StrCpy $0 "the SMTP and IMAP servers (/SMTP=host:port /IMAP=host:port)"
    ${EndIf}
  ${EndIf}
  ${If} $0 != ""
    MessageBox MB_ICONSTOP "The mail choice $Mail needs $0." /SD IDOK
    ; On the page the office fills it in; a silent install stops.
    ${IfNot} ${Silent}
      Abort
    ${EndIf}
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

; Outlook counts as installed when Windows knows where to start it.
Function OutlookInstalled
  ReadRegStr $0 HKLM "Software\Microsoft\Windows\CurrentVersion\App Paths\OUTLOOK.EXE" ""
  ${If} $0 == ""
    ReadRegStr $0 HKCR "Outlook.Application\CLSID" ""
  ${EndIf}
  ${If} $0 == ""
    Push 0
  ${Else}
    Push 1
  ${EndIf}
FunctionEnd

Function MailPage
  nsDialogs::Create 1018
  Pop $Dialog
  ${If} $Dialog == error
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 10u "How should LvMAPI send the mailings and fetch the replies?"
  Pop $0
  ${NSD_CreateRadioButton} 0 10u 100% 9u "Outlook on this computer"
  Pop $ChoiceOutlook
  ${NSD_CreateRadioButton} 0 19u 100% 9u "Microsoft 365 (signing in once in a window that opens)"
  Pop $ChoiceMicrosoft
  ${NSD_CreateRadioButton} 0 28u 100% 9u "Microsoft 365 through SMTP and IMAP (advanced: needs SMTP AUTH on)"
  Pop $ChoiceMicrosoftImap
  ${NSD_CreateRadioButton} 0 37u 100% 9u "Google Workspace (signing in once in the browser)"
  Pop $ChoiceGoogle
  ${NSD_CreateRadioButton} 0 46u 100% 9u "Another provider: its SMTP and IMAP servers"
  Pop $ChoiceOther
  ${NSD_CreateRadioButton} 0 55u 100% 9u "Local folders only (Mail\ beside the program, for trying it out)"
  Pop $ChoiceLocal
  ${NSD_CreateRadioButton} 0 64u 100% 9u "Keep the settings in LVEmailAccess.conf"
  Pop $ChoiceKeep
  ${NSD_CreateLabel} 0 76u 30% 10u "Account, password:"
  Pop $0
  ${NSD_CreateText} 30% 74u 42% 12u "$Account"
  Pop $FieldAccount
  ${NSD_CreatePassword} 74% 74u 26% 12u "$Password"
  Pop $FieldPassword
  ${NSD_CreateLabel} 0 90u 30% 10u "SMTP server, port:"
  Pop $0
  ${NSD_CreateText} 30% 88u 50% 12u "$SmtpServer"
  Pop $FieldSmtp
  ${NSD_CreateNumber} 82% 88u 18% 12u "587"
  Pop $FieldSmtpPort
  ${NSD_CreateLabel} 0 104u 30% 10u "IMAP server, port:"
  Pop $0
  ${NSD_CreateText} 30% 102u 50% 12u "$ImapServer"
  Pop $FieldImap
  ${NSD_CreateNumber} 82% 102u 18% 12u "993"
  Pop $FieldImapPort
  ${NSD_CreateLabel} 0 118u 30% 10u "App client ID, secret:"
  Pop $0
  ${NSD_CreateText} 30% 116u 42% 12u "$ClientId"
  Pop $FieldClientId
  ${NSD_CreatePassword} 74% 116u 26% 12u "$ClientSecret"
  Pop $FieldClientSecret
  ; An update keeps what the office set up; a first install offers Outlook
  ; where it is installed.
  ${If} ${FileExists} "$INSTDIR\LVEmailAccess.conf"
    ${NSD_Check} $ChoiceKeep
  ${Else}
    EnableWindow $ChoiceKeep 0
    Call OutlookInstalled
    Pop $0
    ${If} $0 == 1
      ${NSD_Check} $ChoiceOutlook
    ${Else}
      ${NSD_Check} $ChoiceLocal
    ${EndIf}
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function MailPageDone
  ${NSD_GetText} $FieldAccount $Account
  ${NSD_GetText} $FieldPassword $Password
  ${NSD_GetText} $FieldSmtp $SmtpServer
  ${NSD_GetText} $FieldSmtpPort $SmtpPort
  ${NSD_GetText} $FieldImap $ImapServer
  ${NSD_GetText} $FieldImapPort $ImapPort
  ${NSD_GetText} $FieldClientId $ClientId
  ${NSD_GetText} $FieldClientSecret $ClientSecret
  StrCpy $Mail ""
  ${NSD_GetState} $ChoiceOutlook $0
  ${IfThen} $0 == ${BST_CHECKED} ${|} StrCpy $Mail "outlook" ${|}
  ${NSD_GetState} $ChoiceMicrosoft $0
  ${IfThen} $0 == ${BST_CHECKED} ${|} StrCpy $Mail "microsoft365" ${|}
  ${NSD_GetState} $ChoiceMicrosoftImap $0
  ${IfThen} $0 == ${BST_CHECKED} ${|} StrCpy $Mail "microsoft365-smtp+imap" ${|}
  ${NSD_GetState} $ChoiceGoogle $0
  ${IfThen} $0 == ${BST_CHECKED} ${|} StrCpy $Mail "google" ${|}
  ${NSD_GetState} $ChoiceOther $0
  ${IfThen} $0 == ${BST_CHECKED} ${|} StrCpy $Mail "smtp+imap" ${|}
  ${NSD_GetState} $ChoiceLocal $0
  ${IfThen} $0 == ${BST_CHECKED} ${|} StrCpy $Mail "maildir" ${|}
  Call CheckMailChoice
FunctionEnd

; Writes LVEmailAccess.conf for the choice, readable and writable by this
; account alone (it names the account, and may hold its password).
Function WriteMailSettings
  ${If} $Sender == ""
    StrCpy $Sender "$Account"
  ${EndIf}
  ${If} $Sender == ""
    StrCpy $Sender "LvMAPI <lvmapi@localhost>"
  ${EndIf}
  Delete "$INSTDIR\LVEmailAccess.conf"
  FileOpen $9 "$INSTDIR\LVEmailAccess.conf" w
  ${If} ${Errors}
    Push 0
    Return
  ${EndIf}
  FileWrite $9 "# Written by the installer of LvMAPI ${VERSION}; see LVEmailAccess.conf.example.$\r$\n"
  FileWrite $9 "[general]$\r$\nsender = $Sender$\r$\n"
  ${If} $Mail == "outlook"
    FileWrite $9 "transport = outlook$\r$\n"
  ${ElseIf} $Mail == "maildir"
    FileWrite $9 "transport = maildir$\r$\n"
  ${ElseIf} $Mail == "microsoft365"
    ; Microsoft Graph: no server names, no SMTP AUTH; the sign-in alone.
    FileWrite $9 "transport = graph$\r$\n"
    FileWrite $9 "[oauth2]$\r$\nprovider = microsoft$\r$\nclient_id = $ClientId$\r$\n"
    ${IfThen} $Tenant != "" ${|} FileWrite $9 "tenant = $Tenant$\r$\n" ${|}
  ${Else}
    ${If} $Mail == "microsoft365-smtp+imap"
      StrCpy $SmtpServer "smtp.office365.com"
      StrCpy $SmtpPort 587
      StrCpy $ImapServer "outlook.office365.com"
      StrCpy $ImapPort 993
      StrCpy $1 "oauth2"
    ${ElseIf} $Mail == "google"
      StrCpy $SmtpServer "smtp.gmail.com"
      StrCpy $SmtpPort 587
      StrCpy $ImapServer "imap.gmail.com"
      StrCpy $ImapPort 993
      StrCpy $1 "oauth2"
    ${Else}
      StrCpy $1 "password"
    ${EndIf}
    ; Port 465 starts with TLS, every other SMTP port switches with STARTTLS;
    ; 993 is IMAP with TLS from the start.
    StrCpy $2 "smtp"
    ${IfThen} $SmtpPort == 465 ${|} StrCpy $2 "smtps" ${|}
    StrCpy $3 "imaps"
    ${IfThen} $ImapPort == 143 ${|} StrCpy $3 "imap" ${|}
    FileWrite $9 "transport = smtp+imap$\r$\n"
    ; Only a password account's password is written: one given for an
    ; OAuth sign-in would make the settings refused.
    StrCpy $4 ""
    ${If} $1 == "password"
    ${AndIf} $Password != ""
      StrCpy $4 "password = $Password$\r$\n"
    ${EndIf}
    ; A provider's published limits: a mailing keeps to them instead of
    ; being throttled or stopped by the day's quota.
    StrCpy $5 ""
    ${IfThen} $Mail == "microsoft365-smtp+imap" ${|} StrCpy $5 "pace = microsoft365$\r$\n" ${|}
    ${IfThen} $Mail == "google" ${|} StrCpy $5 "pace = google$\r$\n" ${|}
    FileWrite $9 "[smtp]$\r$\nurl = $2://$SmtpServer:$SmtpPort$\r$\nuser = $Account$\r$\nauth = $1$\r$\n$4$5"
    FileWrite $9 "[imap]$\r$\nurl = $3://$ImapServer:$ImapPort/INBOX$\r$\nuser = $Account$\r$\nauth = $1$\r$\n$4"
    ${If} $Mail == "microsoft365-smtp+imap"
      FileWrite $9 "[oauth2]$\r$\nprovider = microsoft$\r$\nclient_id = $ClientId$\r$\n"
      ${IfThen} $Tenant != "" ${|} FileWrite $9 "tenant = $Tenant$\r$\n" ${|}
    ${ElseIf} $Mail == "google"
      FileWrite $9 "[oauth2]$\r$\nprovider = google$\r$\nclient_id = $ClientId$\r$\nclient_secret = $ClientSecret$\r$\n"
    ${EndIf}
  ${EndIf}
  FileClose $9
  ReadEnvStr $0 USERNAME
  nsExec::Exec '"$SYSDIR\icacls.exe" "$INSTDIR\LVEmailAccess.conf" /inheritance:r /grant:r "$0:F"'
  Pop $0
  Push 1
FunctionEnd

; The sign-in (Microsoft 365, Google) in a console window of its own, then
; LVEmailAccess --check, whose words are shown and kept beside the program.
Function SetUpMail
  DetailPrint "Mail: $Mail"
  Call WriteMailSettings
  Pop $0
  ${If} $0 == 0
    MessageBox MB_ICONSTOP "LVEmailAccess.conf could not be written in $INSTDIR." /SD IDOK
    SetErrorLevel 5
    Quit
  ${EndIf}
  ${If} $Mail == "microsoft365"
  ${OrIf} $Mail == "microsoft365-smtp+imap"
  ${OrIf} $Mail == "google"
    ${If} ${Silent}
      DetailPrint "Sign in later with: LVEmailAccess --authorize"
    ${Else}
      ExecWait '"$SYSDIR\cmd.exe" /c ""$INSTDIR\LVEmailAccess.exe" --authorize & pause"'
    ${EndIf}
  ${EndIf}
  ; A check that printed nothing (it could not be started, or its words
  ; were lost on the way) runs once more; the office is never shown an
  ; empty answer as if all were well.
  StrCpy $R7 0
  ${Do}
    nsExec::ExecToStack '"$INSTDIR\LVEmailAccess.exe" --check'
    Pop $0
    Pop $1
    IntOp $R7 $R7 + 1
    ${IfThen} $1 != "" ${|} ${ExitDo} ${|}
  ${LoopUntil} $R7 >= 2
  ${If} $1 == ""
    StrCpy $1 "LVEmailAccess --check could not be run or printed nothing (its exit status: $0)."
  ${EndIf}
  FileOpen $9 "$INSTDIR\LVEmailAccess.check.txt" w
  FileWrite $9 "$1"
  FileClose $9
  DetailPrint "$1"
  MessageBox MB_OK|MB_ICONINFORMATION "LVEmailAccess --check says:$\r$\n$\r$\n$1" /SD IDOK
FunctionEnd

; Every program file of an update must be replaceable before any is
; replaced: one a running LvMAPI or another program holds is waited for
; some seconds, and if it stays held nothing is installed, so the folder
; never holds a mix of two versions.
!macro WaitUntilReplaceable file
  ${If} ${FileExists} "${file}"
    StrCpy $8 0
    ${Do}
      ClearErrors
      FileOpen $9 "${file}" a
      ${IfNot} ${Errors}
        FileClose $9
        ${ExitDo}
      ${EndIf}
      IntOp $8 $8 + 1
      ${If} $8 >= 20
        MessageBox MB_ICONSTOP "${file} is in use by another program; nothing was installed. Close LvMAPI and the church application, then install again (LVEmailAccess.exe is also in use while a large mailing goes out by itself: install once it is out)." /SD IDOK
        SetErrorLevel 4
        Quit
      ${EndIf}
      Sleep 500
    ${Loop}
  ${EndIf}
!macroend

Section "LvMAPI"
  ; Nothing can be installed where this account cannot write: a silent
  ; install says so in its exit status and leaves no uninstall entry.
  Push "$INSTDIR"
  Call CanWriteThere
  Pop $0
  ${If} $0 == 0
    MessageBox MB_ICONSTOP "This account cannot write in $INSTDIR; nothing was installed." /SD IDOK
    SetErrorLevel 5
    Quit
  ${EndIf}
  !include "${FILES_DIR}\check-files.nsh"
  ; A file that still cannot be written stops the installation instead of
  ; being skipped.
  AllowSkipFiles off
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
  ${If} $Mail != ""
    Call SetUpMail
  ${EndIf}
  Call ScheduleSender
SectionEnd

; A large mailing goes out at the provider's pace with a sender that the
; mailing starts in the background. The safety net behind it: every 15
; minutes, for this account, a sender that sends what still waits in the
; queue (after a restart of the computer, a sender that was ended, a server
; that was out of reach); one already at work makes it end at once. A
; system where the task cannot be made still gets its mail out with each
; mailing and reply pass, so the installation goes on and says so.
!define SENDER_TASK "LvMAPI send queued mail"

Function ScheduleSender
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Create /TN "${SENDER_TASK}" /TR "\"$INSTDIR\LVEmailAccess.exe\" --send-queued" /SC MINUTE /MO 15 /F'
  Pop $0
  ${If} $0 == 0
    DetailPrint "Scheduled: LVEmailAccess --send-queued every 15 minutes (task $\"${SENDER_TASK}$\")"
  ${Else}
    DetailPrint "The task $\"${SENDER_TASK}$\" could not be scheduled (schtasks: $0); queued mail goes out with the next mailing or reply pass"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; Exactly the files installed; the folder itself goes only when nothing
  ; else (the database, the log, Mail\) is left in it.
  !include "${FILES_DIR}\uninstall-files.nsh"
  nsExec::ExecToLog '"$SYSDIR\schtasks.exe" /Delete /TN "${SENDER_TASK}" /F'
  Pop $0
  Delete "$INSTDIR\LVEmailAccess.check.txt"
  Delete "$INSTDIR\Uninstall LvMAPI.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
