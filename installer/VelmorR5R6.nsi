; Installer of the Velmor R5/R6 host software: the ASIO driver for 64-bit and
; for 32-bit hosts and the 32-bit control panel. Built by scripts/package:
;   makensis -DBIN64=<64-bit bin> -DBIN32=<32-bit bin> -DOUTFILE=<setup.exe> [-DWITH_PANEL] VelmorR5R6.nsi
;
; Command line (install):   /S silent; /PlayRecPP=0|1 /AsioDrvPP=0|1 /RmtCtrlPP=0|1
;                           (the panel's pages, default 1 each); /VIRTUALDEVICE=0|1
;                           (the virtual device, default 0)
; Command line (uninstall): /S silent; /KEEPSETTINGS=0|1 (default 1: keep the
;                           driver settings "BufferSize" and "BitsPerSample")

Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!ifndef BIN64 | BIN32 | OUTFILE
  !error "define BIN64, BIN32 and OUTFILE (scripts/package does)"
!endif

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinMessages.nsh
!include MUI2.nsh

!include Names.nsh
!include Panel.nsh
!include Registration.nsh
!include Options.nsh
!include Settings.nsh

Name "${PRODUCT_NAME}"
OutFile "${OUTFILE}"
InstallDir "${PANEL_DIR}"
BrandingText "${PRODUCT_NAME} ${PRODUCT_VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${PRODUCT_VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey "CompanyName" "${COMPANY_NAME}"
VIAddVersionKey "FileDescription" "${PRODUCT_NAME} Setup"
VIAddVersionKey "FileVersion" "${PRODUCT_VERSION}"
VIAddVersionKey "ProductVersion" "${PRODUCT_VERSION}"
VIAddVersionKey "LegalCopyright" "${COMPANY_NAME}"

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!ifdef WITH_PANEL
  !define MUI_FINISHPAGE_RUN "${PANEL_DIR}\${PANEL_EXE}"
  !define MUI_FINISHPAGE_RUN_TEXT "Start the control panel"
!endif
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

!insertmacro DefineEndRunningPanel ""
!insertmacro DefineEndRunningPanel "un."
!insertmacro DefineDeleteRegistration ""
!insertmacro DefineDeleteRegistration "un."

; ---------------------------------------------------------------- install

Section "!ASIO driver and control panel" SecCore
  SectionIn RO
  SetShellVarContext all
  Call EndRunningPanel

  ; The uninstaller first: whatever fails later, the user can remove what is there.
  SetOutPath "${PANEL_DIR}"
  WriteUninstaller "${PANEL_DIR}\${UNINSTALLER}"
  !ifdef WITH_PANEL
    File "${BIN32}/${PANEL_EXE}"
  !endif
  SetOutPath "${DRIVER32_DIR}"
  File "${BIN32}/${DRIVER_DLL}"
  SetOutPath "${DRIVER_DIR}"
  File "${BIN64}/${DRIVER_DLL}"

  SetRegView 32
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "${PANEL_DIR}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "${PANEL_DIR}\${PANEL_EXE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"${PANEL_DIR}\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"${PANEL_DIR}\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; A registration from an earlier installation or another copy is replaced,
  ; not left behind with a class key that nothing names any more.
  Push ""
  Call DeleteRegistration64
  Push ""
  Call DeleteRegistration32
  DetailPrint "Registering the ASIO driver (64-bit)"
  !insertmacro RunRegsvr32 ""
  ${If} $0 = 0
    DetailPrint "Registering the ASIO driver (32-bit)"
    !insertmacro RunRegsvr32x86 ""
  ${EndIf}
  ${If} $0 <> 0
    DetailPrint "regsvr32 failed ($0)"
    MessageBox MB_OK|MB_ICONSTOP "The ASIO driver could not be registered (regsvr32 ended with $0).$\r$\nRun the uninstaller to remove what was installed." /SD IDOK
    SetErrorLevel 3
    Abort "The ASIO driver could not be registered."
  ${EndIf}

  ; Where the driver's "controlPanel" finds the panel: its folder, ending in a separator.
  WriteRegStr HKCU "${SETTINGS_KEY}" "ASIOCPL" "${PANEL_DIR}\"

  CreateDirectory "${SHORTCUT_DIR}"
  CreateShortcut "${SHORTCUT}" "${PANEL_DIR}\${PANEL_EXE}" "" "${PANEL_DIR}\${PANEL_EXE}" 0
SectionEnd

SectionGroup /e "Control panel pages" SecPages
  Section "Playback and Record pages" SecPlayRec
  SectionEnd
  Section "ASIO page" SecAsioPage
  SectionEnd
  Section "Remote control" SecRemote
  SectionEnd
SectionGroupEnd

Section /o "Virtual device (without an R5/R6)" SecVirtual
  SetOutPath "${PANEL_DIR}"
  File "/oname=${SIM_DLL}" "${BIN32}/${SIM_DLL}"
  SetOutPath "${DRIVER_DIR}"
  File "/oname=${SIM_DLL}" "${BIN64}/${SIM_DLL}"
SectionEnd

; The panel's switches, in the 32-bit view where the 32-bit panel reads them.
; Every switch is written, 0 as well as 1: a missing "AsioDrvPP" means 1.
Section "-Switches"
  SetRegView 32
  !insertmacro WriteSwitch "PlayRecPP" ${SecPlayRec}
  !insertmacro WriteSwitch "AsioDrvPP" ${SecAsioPage}
  !insertmacro WriteSwitch "RmtCtrlPP" ${SecRemote}
  SectionGetSize ${SecCore} $0
  SectionGetSize ${SecVirtual} $1
  ${If} ${SectionIsSelected} ${SecVirtual}
    IntOp $0 $0 + $1
  ${EndIf}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecCore} "The ASIO driver for 64-bit and for 32-bit hosts (both registered) and the control panel, with a Start-menu shortcut."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPages} "The pages the control panel offers."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPlayRec} "Playback and Record: the device's formats, volumes and record input."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecAsioPage} "ASIO: the driver's state, buffer size and sample width."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecRemote} "Remote control of the panel over the network (UDP port 5566)."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecVirtual} "A simulated R5/R6 for trying the software without the device; used only when VELMOR_DEVICE=simulated is set."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT_NAME} needs a 64-bit Windows: its ASIO driver is a 64-bit driver.$\r$\nThis Windows is 32-bit; nothing was installed." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  ${GetParameters} $R0
  !insertmacro SelectFromOption $R0 "/PlayRecPP=" ${SecPlayRec}
  !insertmacro SelectFromOption $R0 "/AsioDrvPP=" ${SecAsioPage}
  !insertmacro SelectFromOption $R0 "/RmtCtrlPP=" ${SecRemote}
  !insertmacro SelectFromOption $R0 "/VIRTUALDEVICE=" ${SecVirtual}
FunctionEnd

; ---------------------------------------------------------------- uninstall

Var KeptBufferSize
Var KeptBitsPerSample

; The page's two choices; the work is done by the hidden section after them.
Section "un.ASIO driver and control panel" SecUnCore
  SectionIn RO
SectionEnd

Section /o "un.Driver settings (buffer size, sample width)" SecUnSettings
SectionEnd

Section "-un.Remove"
  SetShellVarContext all
  Call un.EndRunningPanel

  ; The driver's own unregistration deletes its whole settings key: the
  ; user's two settings are read first and written back after it.
  !insertmacro KeepSetting "BufferSize" $KeptBufferSize
  !insertmacro KeepSetting "BitsPerSample" $KeptBitsPerSample
  DetailPrint "Unregistering the ASIO drivers"
  !insertmacro RunRegsvr32 "/u"
  !insertmacro RunRegsvr32x86 "/u"
  ; A driver file that is already gone cannot unregister itself.
  Push "${DRIVER_DIR}\${DRIVER_DLL}"
  Call un.DeleteRegistration64
  Push "${DRIVER32_DIR}\${DRIVER_DLL}"
  Call un.DeleteRegistration32

  DeleteRegValue HKCU "${SETTINGS_KEY}" "ASIOCPL"
  ${If} ${SectionIsSelected} ${SecUnSettings}
    DeleteRegKey HKCU "${SETTINGS_KEY}"
  ${Else}
    !insertmacro RestoreSetting "BufferSize" $KeptBufferSize
    !insertmacro RestoreSetting "BitsPerSample" $KeptBitsPerSample
  ${EndIf}
  DeleteRegKey /ifempty HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "${SETTINGS_PARENT}"

  SetRegView 32
  DeleteRegKey HKLM "${SWITCH_KEY}"
  DeleteRegKey /ifempty HKLM "${SWITCH_PARENT}"

  Delete "${SHORTCUT}"
  RMDir "${SHORTCUT_DIR}"

  Delete /REBOOTOK "${DRIVER_DIR}\${DRIVER_DLL}"
  Delete /REBOOTOK "${DRIVER_DIR}\${SIM_DLL}"
  RMDir /REBOOTOK "${DRIVER_DIR}"
  RMDir "$PROGRAMFILES64\Velmor"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete /REBOOTOK "${PANEL_DIR}\${PANEL_EXE}"
  Delete /REBOOTOK "${DRIVER32_DIR}\${DRIVER_DLL}"
  Delete /REBOOTOK "${PANEL_DIR}\${SIM_DLL}"
  Delete "${PANEL_DIR}\${UNINSTALLER}"
  ; Last: a script that ran the uninstaller waits for this folder to go.
  RMDir /REBOOTOK "${PANEL_DIR}"
  RMDir "$PROGRAMFILES32\Velmor"
  ${If} ${RebootFlag}
    MessageBox MB_OK|MB_ICONINFORMATION "Some files are in use (by an ASIO host?); Windows removes them when it restarts." /SD IDOK
  ${EndIf}
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnCore} "The ASIO drivers (64- and 32-bit), their registrations, the control panel, its switches and the shortcut."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnSettings} "Also remove this user's ASIO buffer size and sample width (kept otherwise)."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  ${GetParameters} $R0
  ; /KEEPSETTINGS=0 removes the settings.
  !insertmacro UnselectFromOption $R0 "/KEEPSETTINGS=" ${SecUnSettings}
FunctionEnd
