// The volume percentages controllers set, per level control. A control's
// steps can be coarser than one percent (48 dB in 0.5 dB steps holds 97
// levels for 101 percentages), so the level alone cannot always say which
// percentage was asked for: while a control still holds the level it took
// for a controller's percentage, that percentage is what it reads back as.
#pragma once

#include "RemotePanel.h"

#include <cstdint>

constexpr int kRemoteVolumeInputs = 8;

class RemoteVolumeMemory {
public:
    // Control 0 is the render level, control 1 + i record input i.
    static constexpr int kRender = 0;
    static int RecordInput(int input) { return 1 + input; }

    // The percentage the control reads as: the one set while its level and
    // range are unchanged, else the level's own (VolumePercent).
    int32_t Percent(int control, const VolumeRange& range) const;
    // After a controller's percentage was set: the range and levels read back.
    // A control without a level range is not remembered.
    void Remember(int control, const VolumeRange& range, int32_t percent);

private:
    struct Entry {
        bool set;
        float level;
        float minimum;
        float maximum;
        int32_t percent;
    };
    Entry m_entries[1 + kRemoteVolumeInputs] = {};
};
