#include "PageControls.h"

#include "PlayRecordFormats.h"

#include <commctrl.h>

DWORD CheckedRate(const CDialog& page, const int* radios) {
    for (int i = 0; i < kPanelRateCount; ++i) {
        if (page.IsChecked(radios[i])) return kPanelRates[i];
    }
    return kUncheckedRate;
}

WORD CheckedBits(const CDialog& page, const int* radios) {
    for (int i = 0; i < kPanelDepthCount; ++i) {
        if (page.IsChecked(radios[i])) return kPanelDepths[i];
    }
    return kUncheckedBits;
}

void FillEnabledFormats(const CDialog& page, const int* rateRadios, const int* depthRadios, int32_t* words) {
    bool rates[kPanelRateCount];
    bool depths[kPanelDepthCount];
    for (int i = 0; i < kPanelRateCount; ++i) rates[i] = IsWindowEnabled(page.Item(rateRadios[i])) != FALSE;
    for (int i = 0; i < kPanelDepthCount; ++i) depths[i] = IsWindowEnabled(page.Item(depthRadios[i])) != FALSE;
    FillFormatList(rates, depths, words);
}

void SetLevelPositions(CDialog& page, int leftId, int rightId, float left, float right, float leftMinimum,
                       float leftMaximum, float minimum, float maximum) {
    page.SendItem(leftId, TBM_SETPOS, TRUE, LevelToPosition(left, leftMinimum, leftMaximum));
    page.SendItem(rightId, TBM_SETPOS, TRUE, LevelToPosition(right, minimum, maximum));
}

void ResetLevelTrackbars(CDialog& page, int leftId, int rightId) {
    for (int id : {leftId, rightId}) {
        page.SendItem(id, TBM_SETRANGE, TRUE, MAKELPARAM(0, kLevelPositions));
        page.SendItem(id, TBM_SETPOS, TRUE, 0);
    }
}


bool CheckRateRadio(CDialog& page, const int* radios, DWORD rate) {
    bool checked = false;
    for (int i = 0; i < kPanelRateCount; ++i) {
        page.SetCheck(radios[i], kPanelRates[i] == rate);
        checked |= kPanelRates[i] == rate;
    }
    return checked;
}

bool CheckDepthRadio(CDialog& page, const int* radios, WORD bits) {
    bool checked = false;
    for (int i = 0; i < kPanelDepthCount; ++i) {
        page.SetCheck(radios[i], kPanelDepths[i] == bits);
        checked |= kPanelDepths[i] == bits;
    }
    return checked;
}
