; The driver's registration: made and undone by the driver itself through the
; 64-bit regsvr32 (every registration makes a new CLSID), and removed by hand
; where the driver cannot do it (a registration of another copy that this
; one replaces, or a driver file that is already gone).

; Runs the 64-bit regsvr32 on the installed driver; $0 = its exit code.
; mode: "" to register, "/u" to unregister.
!macro RunRegsvr32 mode
  ${DisableX64FSRedirection}
  ClearErrors
  ExecWait '"$WINDIR\System32\regsvr32.exe" /s ${mode} "${DRIVER_DIR}\${DRIVER_DLL}"' $0
  ${EnableX64FSRedirection}
  ${If} ${Errors}
    StrCpy $0 -1
  ${EndIf}
!macroend

; Deletes the registration named by HKLM "Software\ASIO\VelmorR5R6": its class
; key and the ASIO key. Stack: the driver path the registration must name, or
; "" for any registration. The class key is deleted only for a well-formed
; CLSID, never the whole "CLSID" tree.
!macro DefineDeleteRegistration un
Function ${un}DeleteRegistration
  Exch $0
  Push $1
  Push $2
  SetRegView 64
  ReadRegStr $1 HKLM "${ASIO_DRIVER_KEY}" "Driver"
  ${If} $0 == ""
  ${OrIf} $0 == $1
    ReadRegStr $1 HKLM "${ASIO_DRIVER_KEY}" "CLSID"
    StrLen $2 $1
    ${If} $2 = 38
      StrCpy $2 $1 1
      ${If} $2 == "{"
        DeleteRegKey HKCR "CLSID\$1"
      ${EndIf}
    ${EndIf}
    DeleteRegKey HKLM "${ASIO_DRIVER_KEY}"
  ${EndIf}
  SetRegView 32
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
