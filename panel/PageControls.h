// Controls the Playback and Record pages handle alike: rate and depth radios
// in the order of the panel's rate and depth lists, and the two level trackbars.
#pragma once

#include "Dialog.h"

#include <windows.h>

#include <cstdint>

// What a page applies when no radio of a kind is checked.
constexpr DWORD kUncheckedRate = 44100;
constexpr WORD kUncheckedBits = 16;

// radios[i] stands for kPanelRates[i] (or kPanelDepths[i]).
DWORD CheckedRate(const CDialog& page, const int* radios);
WORD CheckedBits(const CDialog& page, const int* radios);
// Checks exactly the radio of that value (none when it is not listed);
// true when one was checked.
bool CheckRateRadio(CDialog& page, const int* radios, DWORD rate);
bool CheckDepthRadio(CDialog& page, const int* radios, WORD bits);
// The remote control's rates and depths from the radios that are enabled.
void FillEnabledFormats(const CDialog& page, const int* rateRadios, const int* depthRadios, int32_t* words);

void ResetLevelTrackbars(CDialog& page, int leftId, int rightId);
void SetLevelPositions(CDialog& page, int leftId, int rightId, float left, float right, float leftMinimum,
                       float leftMaximum, float minimum, float maximum);
