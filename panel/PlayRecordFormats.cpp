#include "PlayRecordFormats.h"

#include "device/EndpointKeys.h"
#include "remote/RemoteIds.h"

#include <cmath>
#include <cstring>

int BuildPageFormats(uint32_t rateMask, uint32_t depthMask, PageFormat* entries, int room) {
    int count = 0;
    for (int d = 0; d < kPanelDepthCount; ++d) {
        if (!(depthMask & (1u << d))) continue;
        for (int r = 0; r < kPanelRateCount; ++r) {
            if (!(rateMask & (1u << r)) || count >= room) continue;
            entries[count].rate = static_cast<int32_t>(kPanelRates[r]);
            entries[count].bits = static_cast<int16_t>(kPanelDepths[d]);
            ++count;
        }
    }
    return count;
}

// The percentage below the maximum, rounded to the nearest position, so that
// a position's level maps back to that position on every range. A control
// that reports no range (maximum not above minimum) sits at the top.
int LevelToPosition(float level, float minimum, float maximum) {
    if (!(maximum > minimum)) return 0;
    double below = (static_cast<double>(maximum) - level) * kLevelPositions / (static_cast<double>(maximum) - minimum);
    if (!(below > 0)) below = 0;  // also a level that is not a number
    if (below > kLevelPositions) below = kLevelPositions;
    return static_cast<int>(std::lround(below));
}

float PositionToLevel(int position, float minimum, float maximum) {
    double span = static_cast<double>(maximum) - minimum;
    return static_cast<float>(maximum - span * position / kLevelPositions);
}

void FillFormatList(const bool* rateEnabled, const bool* depthEnabled, int32_t* words) {
    int rates = 0;
    for (int i = 0; i < kPanelRateCount; ++i) {
        if (rateEnabled[i]) words[kFormatListRatesAt + rates++] = static_cast<int32_t>(kPanelRates[i]);
    }
    words[kFormatListRateCountAt] = rates;
    int depths = 0;
    for (int i = 0; i < kPanelDepthCount; ++i) {
        if (depthEnabled[i]) words[kFormatListDepthsAt + depths++] = kPanelDepths[i];
    }
    words[kFormatListDepthCountAt] = depths;
}

void FillInputNames(const bool* inputIsLine, int count, RecordFormatList* list) {
    char* names = reinterpret_cast<char*>(&list->words[kRecordInputNamesAt]);
    int listed = 0;
    for (int i = count - 1; i >= 0 && listed < kRecordInputNameRoom; --i, ++listed) {
        char* slot = names + listed * kRecordInputNameChars;
        std::memset(slot, 0, kRecordInputNameChars);
        const char* name = inputIsLine[i] ? kLineInName : kSpdifInName;
        std::memcpy(slot, name, std::strlen(name));
    }
    list->words[kRecordInputNameCountAt] = listed;
}

bool IsLineConnector(const GUID& connector) { return IsEqualGUID(connector, kKsNodeTypeLineConnector) != FALSE; }

bool ConvertInputName(const wchar_t* wide, char (&name)[kInputNameBytes]) {
    if (!wide) return false;
    int needed = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0 || needed > kInputNameBytes) return false;
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, name, kInputNameBytes, nullptr, nullptr) > 0;
}
