; Command-line switches of the form /NAME=0 or /NAME=1 that choose components,
; so that a silent installation can choose what the components page offers.
; Any other value ends the program with exit code 2 before anything is done.

; $R1 := the switch's value, "" when it is not given.
!macro ReadBinaryOption params option
  ClearErrors
  ${GetOptions} ${params} "${option}" $R1
  ${If} ${Errors}
    StrCpy $R1 ""
  ${ElseIf} $R1 != "0"
  ${AndIf} $R1 != "1"
    MessageBox MB_OK|MB_ICONSTOP "${option} takes 0 or 1, not '$R1'." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
!macroend

; /NAME=1 selects the section, /NAME=0 unselects it.
!macro SelectFromOption params option section
  !insertmacro ReadBinaryOption ${params} "${option}"
  ${If} $R1 == "1"
    !insertmacro SelectSection ${section}
  ${ElseIf} $R1 == "0"
    !insertmacro UnselectSection ${section}
  ${EndIf}
!macroend

; /NAME=1 unselects the section, /NAME=0 selects it.
!macro UnselectFromOption params option section
  !insertmacro ReadBinaryOption ${params} "${option}"
  ${If} $R1 == "1"
    !insertmacro UnselectSection ${section}
  ${ElseIf} $R1 == "0"
    !insertmacro SelectSection ${section}
  ${EndIf}
!macroend
