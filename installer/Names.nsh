; Names, folders and registry keys the installer and the uninstaller share.

!define PRODUCT_NAME "Velmor R5/R6 Audio"
!define COMPANY_NAME "Velmor"
!ifndef PRODUCT_VERSION
  !define PRODUCT_VERSION "1.0.0"
!endif

!define DRIVER_DLL "VelmorR5R6ASIO.dll"
!define PANEL_EXE "VelmorR5R6ACPL.exe"
!define SIM_DLL "VelmorR5R6Sim.dll"
!define UNINSTALLER "Uninstall.exe"

; The 64-bit driver and the 32-bit panel each go to the program files
; folder of their architecture; the 32-bit driver (same file name) goes next
; to the panel. The uninstaller lives with the panel.
!define PRODUCT_FOLDER "Velmor\VelmorR5R6"
!define DRIVER_DIR "$PROGRAMFILES64\${PRODUCT_FOLDER}"
!define PANEL_DIR "$PROGRAMFILES32\${PRODUCT_FOLDER}"
!define DRIVER32_DIR "${PANEL_DIR}"

!define SHORTCUT_DIR "$SMPROGRAMS\Velmor"
!define SHORTCUT "${SHORTCUT_DIR}\Velmor R5.R6 Audio Control Panel.lnk"

; The panel's main window, found by its title; the command that ends it as
; its own OK action does.
!define PANEL_TITLE "Velmor R5.R6 Audio Control Panel"
!define ID_PANEL_EXIT 0x8050

; HKLM, 64-bit view for the 64-bit driver and 32-bit view for the 32-bit one:
; the driver's registration (written by the driver itself).
!define ASIO_DRIVER_KEY "Software\ASIO\VelmorR5R6"
; HKCU: the driver's settings; the installation adds "ASIOCPL".
!define SETTINGS_KEY "Software\ASIO\VelmorR5R6"
!define SETTINGS_PARENT "Software\ASIO"
; HKLM, 32-bit view (where the 32-bit panel reads them): the panel's switches.
!define SWITCH_KEY "SOFTWARE\Velmor\VelmorR5R6"
!define SWITCH_PARENT "SOFTWARE\Velmor"
; HKLM, 32-bit view: the Add/Remove Programs entry.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmorR5R6"
