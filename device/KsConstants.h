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

// Pin properties read from the filter (KSPROPSETID_Pin ids).
constexpr ULONG kKsPropertyPinCInstances = 0;
constexpr ULONG kKsPropertyPinDataFlow = 2;
constexpr ULONG kKsPropertyPinDataRanges = 3;
constexpr ULONG kKsPropertyPinInterfaces = 5;
constexpr ULONG kKsPropertyPinMediums = 6;
constexpr ULONG kKsPropertyPinCommunication = 7;
constexpr ULONG kKsPropertyPinGlobalCInstances = 8;
constexpr ULONG kKsPropertyPinCategory = 11;
constexpr ULONG kKsPropertyPinName = 12;

// The connection every pin instance asks for: standard streaming on the
// standard medium at normal priority.
constexpr GUID kKsInterfaceSetIdStandard = {0x1A8766A0, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
constexpr GUID kKsMediumSetIdStandard = {0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
constexpr ULONG kKsInterfaceStandardStreaming = 0;
constexpr ULONG kKsInterfaceStandardLoopedStreaming = 1;
constexpr ULONG kKsMediumTypeAnyInstance = 0;
constexpr ULONG kKsPriorityNormal = 0x40000000;

// Audio data formats.
constexpr GUID kKsDataFormatTypeAudio = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kKsDataFormatSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// Sub-formats of wave format tags: the tag in Data1, the rest as here.
constexpr GUID kKsDataFormatSubtypeWaveBase = {0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID kKsDataFormatSpecifierWaveFormatEx = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

// Device-interface classes of audio filters.
constexpr GUID kKsCategoryAudio = {0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr GUID kKsCategoryRender = {0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// The device driver's status property: the first set, then the second when
// the driver does not know the first.
constexpr GUID kVendorStatusSetPrimary = {0xE6603581, 0x00FC, 0x4922, {0x8D, 0x34, 0x08, 0xD2, 0xBE, 0x6B, 0xF4, 0x2A}};
constexpr GUID kVendorStatusSetSecondary = {0x8E005ACB, 0x280E, 0x48A5, {0xAE, 0xBB, 0xBA, 0xCA, 0xF9, 0x71, 0x21, 0xB5}};
constexpr ULONG kVendorStatusPropertyId = 0x5000;
