// What the Playback and Record pages compute without windows: the format
// list from the device's masks, the mapping between trackbar positions and
// decibels, and the supported-format records of the remote control.
#pragma once

#include "KsFormats.h"

#include <windows.h>

#include <cstdint>

// One line of the Playback page's format list.
struct PageFormat {
    int32_t rate;
    int16_t bits;
};
constexpr int kMaxPageFormats = 36;

// The entries in list order: depths 32, 24, 16 with their bit set, each with
// the rates of the rate mask from highest to lowest. The combo inserts every
// line at its top, so position p shows entry count - 1 - p (and back).
int BuildPageFormats(uint32_t rateMask, uint32_t depthMask, PageFormat* entries, int room);
inline int FormatEntryAtPosition(int count, int position) { return count - 1 - position; }
inline int FormatPositionOfEntry(int count, int entry) { return count - 1 - entry; }

// Trackbars run 0 (the maximum level) to 100 (the minimum).
constexpr int kLevelPositions = 100;
int LevelToPosition(float level, float minimum, float maximum);
float PositionToLevel(int position, float minimum, float maximum);

// The supported-format records of the remote control: rates from element 0
// with their count at 16, depths from element 17 with their count at 21;
// the Record page's adds two 16-character input names from element 22 with
// their count at 30.
constexpr int kFormatListRatesAt = 0;
constexpr int kFormatListRateCountAt = 16;
constexpr int kFormatListDepthsAt = 17;
constexpr int kFormatListDepthCountAt = 21;
constexpr int kPlayFormatListWords = 22;
constexpr int kRecordFormatListWords = 31;
constexpr int kRecordInputNamesAt = 22;
constexpr int kRecordInputNameChars = 16;
constexpr int kRecordInputNameRoom = 2;
constexpr int kRecordInputNameCountAt = 30;

struct PlayFormatList {
    int32_t words[kPlayFormatListWords];
};
struct RecordFormatList {
    int32_t words[kRecordFormatListWords];
};

// rateEnabled[i] for kPanelRates[i], depthEnabled[i] for kPanelDepths[i].
void FillFormatList(const bool* rateEnabled, const bool* depthEnabled, int32_t* words);

// inputIsLine[i] for input i of count; names (kLineInName, kSpdifInName)
// from the last input backwards.
void FillInputNames(const bool* inputIsLine, int count, RecordFormatList* list);

// The line input's connector (the other record input is S/PDIF).
bool IsLineConnector(const GUID& connector);

// A wide endpoint name in the ANSI code page when it fits 260 bytes; false
// (output untouched) when it does not.
constexpr int kInputNameBytes = 260;
bool ConvertInputName(const wchar_t* wide, char (&name)[kInputNameBytes]);
