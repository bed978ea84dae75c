; Ending a running control panel before its program is replaced or removed.
; The panel is asked first (the exit command: it saves its settings and
; removes its tray icon); a panel that has not ended after 10 seconds is
; terminated. Defined once for the installer and once for the uninstaller.

!define PANEL_CLOSE_WAIT_MS 10000
!define PANEL_KILL_WAIT_MS 5000
!define PANEL_ROUNDS 5

!macro DefineEndRunningPanel un
Function ${un}EndRunningPanel
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $3 0
  ${Do}
    FindWindow $0 "" "${PANEL_TITLE}"
    ${If} $0 = 0
    ${OrIf} $3 >= ${PANEL_ROUNDS}
      ${Break}
    ${EndIf}
    IntOp $3 $3 + 1
    DetailPrint "Closing the running control panel"
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i 0 r1)'
    ; SYNCHRONIZE | PROCESS_TERMINATE
    System::Call 'kernel32::OpenProcess(i 0x00100001, i 0, i r1) p .r2'
    System::Call 'user32::PostMessageW(p r0, i ${WM_COMMAND}, p ${ID_PANEL_EXIT}, p 0)'
    ${If} $2 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i ${PANEL_CLOSE_WAIT_MS}) i .r1'
      ${If} $1 <> 0
        DetailPrint "The control panel did not close; ending its process"
        System::Call 'kernel32::TerminateProcess(p r2, i 1)'
        System::Call 'kernel32::WaitForSingleObject(p r2, i ${PANEL_KILL_WAIT_MS})'
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p r2)'
    ${Else}
      ; The process cannot be opened: give the window the same time to go.
      StrCpy $1 0
      ${DoWhile} $1 < ${PANEL_CLOSE_WAIT_MS}
        System::Call 'user32::IsWindow(p r0) i .r2'
        ${If} $2 = 0
          ${Break}
        ${EndIf}
        Sleep 200
        IntOp $1 $1 + 200
      ${Loop}
    ${EndIf}
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
