// Audio pins: the audio data ranges a pin announces, the format query, and
// the connection request for a wave format.
#pragma once

#include "KsList.h"
#include "KsPin.h"

#include <windows.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

// Checks of IsFormatSupported; any combination (15 = all three).
constexpr ULONG kKsFormatCheckChannels = 2;
constexpr ULONG kKsFormatCheckBits = 4;
constexpr ULONG kKsFormatCheckRate = 8;

// The data format that follows KSPIN_CONNECT: a KSDATAFORMAT and a WAVEFORMATEX.
constexpr DWORD kKsWaveDataFormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX);
constexpr DWORD kKsPinCreateSize = sizeof(KSPIN_CONNECT) + kKsWaveDataFormatSize;

class CKsAudPin : public CKsPin {
public:
    // Does nothing more than CKsPin when the pin's properties fail; *hr is
    // then the result of the audio checks.
    CKsAudPin(CKsFilter* pFilter, ULONG pinId, HRESULT* hr);
    ~CKsAudPin() override;

    // Keeps the pin's audio data ranges; fails for a pin that cannot stream audio.
    HRESULT Init();
    // True when a saved range accepts the format under the given checks.
    bool IsFormatSupported(const WAVEFORMATEX* pwfx, ULONG flags) const;
#ifndef VELMOR_PANEL_BUILD
    // Puts the wave format into the connection request, resizing it as needed.
    HRESULT SetFormat(const WAVEFORMATEX* pwfx);
#endif

    CKsList<KSDATARANGE_AUDIO>& AudioDataRanges() { return m_listDataRange; }
    const WAVEFORMATEX* Format() const { return m_pwfx; }
    const KSDATAFORMAT* DataFormat() const { return m_pksDataFormatWfx; }

protected:
    CKsList<KSDATARANGE_AUDIO> m_listDataRange;  // owned copies
    CKsFilter* m_pAudFilter;
    WAVEFORMATEX* m_pwfx = nullptr;                 // owned copy of the last SetFormat
    KSDATAFORMAT* m_pksDataFormatWfx = nullptr;     // inside m_pksPinCreate
};

class CKsAudRenPin : public CKsAudPin {
public:
    CKsAudRenPin(CKsFilter* pFilter, ULONG pinId, HRESULT* hr);
    ~CKsAudRenPin() override;
};

class CKsAudCapPin : public CKsAudPin {
public:
    CKsAudCapPin(CKsFilter* pFilter, ULONG pinId, HRESULT* hr);
    ~CKsAudCapPin() override;
};
