// Kernel-streaming property sets, ids and control codes the library sends,
// written out once so that no GUID library is needed to link.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr GUID kKsPropSetIdPin = {0x8C134960, 0x51AD, 0x11CF, {0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00}};
constexpr GUID kKsPropSetIdTopology = {0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
constexpr GUID kKsPropSetIdConnection = {0x1D58C920, 0xAC9B, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

constexpr DWORD kIoctlKsProperty = 0x2F0003;
constexpr DWORD kIoctlKsWriteStream = 0x2F8013;
constexpr DWORD kIoctlKsReadStream = 0x2F4017;
constexpr DWORD kIoctlKsResetState = 0x2F001B;

constexpr ULONG kKsPropertyTypeGet = 1;
constexpr ULONG kKsPropertyTypeSet = 2;

constexpr ULONG kKsPropertyPinCTypes = 1;
constexpr ULONG kKsPropertyTopologyNodes = 1;
constexpr ULONG kKsPropertyConnectionState = 0;
