// Every resource, control, command, timer and window-message value of the
// control panel, shared by the code and the dialog templates (windres reads
// this header too, so it holds only #define lines).
#pragma once

#include <windows.h>

// Icon and dialog templates.
#define IDI_PANEL 128
#define IDD_PANEL_MAIN 102
#define IDD_PAGE_PLAY 107
#define IDD_PAGE_RECORD 108
#define IDD_PAGE_INFORMATION 109
#define IDD_PAGE_REMOTE 110
#define IDD_PAGE_ASIO 111

// Main dialog (template 102).
#define IDC_TAB_PLAYBACK 1000
#define IDC_TAB_ASIO 1001
#define IDC_LINE_PLAYBACK 1069
#define IDC_LINE_ASIO 1070
#define IDC_MODE_PLAYBACK 1053
#define IDC_MODE_ASIO 1054
#define IDC_VOLUME_UP 1051
#define IDC_VOLUME_DOWN 1052
#define IDC_LABEL_RESOLUTION 1063
#define IDC_RESOLUTION 1055
#define IDC_LABEL_RATE 1064
#define IDC_RATE 1056
#define IDC_DEVICE_STREAM 1057
#define IDC_LABEL_STATE 1065
#define IDC_ASIO_STATE 1059
#define IDC_LABEL_PREFERRED 1066
#define IDC_ASIO_PREFERRED 1060
#define IDC_LABEL_BUFFER 1067
#define IDC_ASIO_BUFFER 1061
#define IDC_LABEL_FORMAT 1068
#define IDC_ASIO_FORMAT 1062
#define IDC_ASIO_STREAM 1058
#define IDC_REMOTE_GROUP 1078
#define IDC_LABEL_LOCAL_IP 1089
#define IDC_LOCAL_IP 1079
#define IDC_LABEL_REMOTE_IP 1090
#define IDC_REMOTE_IP 1080
#define IDC_NETWORK_SETTING 1081
#define IDC_NETWORK_SERVER 1082
#define IDC_POWERED_BY 1091

// ASIO page (template 111).
#define IDC_ASIO_PAGE_STATE 1032
#define IDC_ASIO_PAGE_DEVICE 1033
#define IDC_ASIO_PAGE_BITS32 1039
#define IDC_ASIO_PAGE_BITS24 1041
#define IDC_ASIO_PAGE_BITS16 1042
#define IDC_ASIO_PAGE_BUFFER 1045
#define IDC_ASIO_PAGE_RESET 1049
#define IDC_ASIO_PAGE_KIND 1048
#define IDC_ASIO_PAGE_DESCRIPTION 1040
#define IDC_ASIO_PAGE_RATE96000 1034
#define IDC_ASIO_PAGE_RATE88200 1035
#define IDC_ASIO_PAGE_RATE48000 1036
#define IDC_ASIO_PAGE_RATE44100 1037
#define IDC_ASIO_PAGE_RATE32000 1038

// Information page (template 109).
#define IDC_INFO_TEXT 1092

// Window messages of the main window.
#ifndef WM_PANEL_VOLUME_CHANGED
#define WM_PANEL_VOLUME_CHANGED (WM_APP + 0)
#endif
#ifndef WM_PANEL_ENDPOINT_ACTIVE
#define WM_PANEL_ENDPOINT_ACTIVE (WM_APP + 1)
#endif
#define WM_PANEL_PLAY_FORMAT_CHANGED (WM_APP + 2)
#define WM_PANEL_REC_FORMAT_CHANGED (WM_APP + 3)
// WM_APP + 0x10 is the UDP service's WM_PANEL_REMOTE_DATAGRAM (remote/RemoteIds.h).
#define WM_PANEL_TRAY (WM_APP + 0x20)
// A page rebuild asked for while pages were being built or a service stopped.
#define WM_PANEL_DEFERRED_WORK (WM_APP + 0x30)

// Commands (WM_COMMAND) of the tray menu and the panel.
#define ID_TRAY_SHOW 0x8021
#define ID_TRAY_HIDE 0x8022
#define ID_TRAY_EXIT 0x8023
#define ID_PANEL_EXIT 0x8050
#define ID_PANEL_SHOW_ASIO 0x8051
// 0x8052 is ID_PANEL_REFRESH_ASIO, which others send too (device/PanelWindow.h).

// The poll timer.
#define IDT_PANEL_POLL 5066
