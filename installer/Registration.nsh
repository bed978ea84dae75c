; The drivers' registrations: made and undone by each driver itself through
; the regsvr32 of its architecture (every registration makes a new CLSID),
; and removed by hand where the driver cannot do it (a registration of
; another copy that this one replaces, or a driver file that is already gone).
; The 64-bit driver registers in the 64-bit registry view, the 32-bit one in
; the 32-bit view, both under the same name.

; Runs the 64-bit regsvr32 on the installed 64-bit driver; $0 = its exit code.
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

; The same with the 32-bit regsvr32 on the 32-bit driver next to the panel.
!macro RunRegsvr32x86 mode
  ClearErrors
  ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" /s ${mode} "${DRIVER32_DIR}\${DRIVER_DLL}"' $0
  ${If} ${Errors}
    StrCpy $0 -1
  ${EndIf}
!macroend

; Deletes the registration named by HKLM "Software\ASIO\VelmorR5R6" in one
; registry view: its class key and the ASIO key. Stack: the driver path the
; registration must name, or "" for any registration. The class key is
; deleted only for a well-formed CLSID, never the whole "CLSID" tree.
!macro DefineDeleteRegistrationView un view
Function ${un}DeleteRegistration${view}
  Exch $0
  Push $1
  Push $2
  SetRegView ${view}
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

; ${un}DeleteRegistration64 and ${un}DeleteRegistration32.
!macro DefineDeleteRegistration un
  !insertmacro DefineDeleteRegistrationView "${un}" 64
  !insertmacro DefineDeleteRegistrationView "${un}" 32
!macroend
