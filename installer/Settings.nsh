; Registry values the installation writes or keeps.

; One of the panel's switches, 1 when its section is selected, else 0.
!macro WriteSwitch name section
  ${If} ${SectionIsSelected} ${section}
    WriteRegDWORD HKLM "${SWITCH_KEY}" "${name}" 1
  ${Else}
    WriteRegDWORD HKLM "${SWITCH_KEY}" "${name}" 0
  ${EndIf}
!macroend

; var := a driver setting (REG_DWORD), "" when there is none.
!macro KeepSetting name var
  ClearErrors
  ReadRegDWORD ${var} HKCU "${SETTINGS_KEY}" "${name}"
  ${If} ${Errors}
    StrCpy ${var} ""
  ${EndIf}
!macroend

; Writes back a setting read by KeepSetting, if there was one.
!macro RestoreSetting name var
  ${If} ${var} != ""
    WriteRegDWORD HKCU "${SETTINGS_KEY}" "${name}" ${var}
  ${EndIf}
!macroend
