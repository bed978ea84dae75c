// Window messages, commands, texts and fixed numbers that the remote control
// shares with the panel's main dialog and with controllers.
#pragma once

#include "device/PanelWindow.h"  // kPanelWindowTitle, ID_PANEL_REFRESH_ASIO

#include <windows.h>

#include <cstdint>

// The UDP service's notice to its owner window: wParam the receive slot.
#define WM_PANEL_REMOTE_DATAGRAM (WM_APP + 0x10)

// The remote control's names of the two kinds of record input.
constexpr char kLineInName[] = "Line In";
constexpr char kSpdifInName[] = "SPDIF Rx";

constexpr uint16_t kRemoteDefaultPort = 5566;
constexpr char kRemoteDefaultPortText[] = "5566";

// Receive ring: eight slots; each starts with the sender's address (16 bytes)
// and 16 zero bytes, then the payload.
constexpr int kUdpSlotCount = 8;
constexpr int kUdpSlotSize = 1024;
constexpr int kUdpSlotPayloadOffset = 32;
constexpr int kUdpMaxPayload = kUdpSlotSize - kUdpSlotPayloadOffset;  // 992

// Room of the answer buffer; answers are sent without their terminator.
constexpr int kRemoteAnswerRoom = 2048;

// Controller notification: the word and its terminating zero, 18 bytes.
constexpr char kControllerNotifyWord[] = "CorvaTechNotifyBC";
constexpr int kControllerNotifyLength = sizeof(kControllerNotifyWord);
