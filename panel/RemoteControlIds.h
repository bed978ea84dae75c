// Templates and controls of the remote-control page and the network-setting
// dialog (windres reads this header too: #define lines only).
#pragma once

#include "PanelIds.h"  // IDD_PAGE_REMOTE

#define IDD_NETWORK_SETTING 133

// Remote-control page (template 110).
#define IDC_RMT_PORT 1013
#define IDC_RMT_ACTIVATE 1014
#define IDC_RMT_LOCAL_IP 1017
#define IDC_RMT_NOTIFY 1018
#define IDC_RMT_REFRESH 1019
#define IDC_RMT_ADAPTERS 1020
#define IDC_RMT_REMOTE_IP 1021

// Network-setting dialog (template 133).
#define IDC_NIC_LOCAL_IP 1083
#define IDC_NIC_PORT 1084
#define IDC_NIC_ADAPTERS 1085
#define IDC_NIC_REFRESH 1086
#define IDC_NIC_NOTIFY 1087
