// The Record page: the capture endpoints' shared-mode format (one for every
// record input), the record input (line or S/PDIF) through the device's
// multiplexer, and the line input's volume and mute.
#pragma once

#include "Dialog.h"
#include "PlayRecordFormats.h"

#include <windows.h>

#include <cstdint>

class CTarnACPLDlg;
class EndpointControl;

constexpr int kMaxRecordInputs = 8;

class CPPageRecord : public CDialog {
public:
    explicit CPPageRecord(CTarnACPLDlg* parent);
    ~CPPageRecord() override;

    // Reads input's format into the radios, then applies the radios to every input.
    void RefreshFromInput(UINT input);
    void RefreshVolume();
    void RefreshMute();
    void ReselectCurrentInput();
    HRESULT GetSupportedFormats(RecordFormatList* list) const;

    int InputCount() const { return m_inputCount; }
    int CurrentInput() const { return m_currentInput; }
    // The connector type of each input (the line input's is KSNODETYPE_LINE_CONNECTOR).
    const GUID* InputConnectors() const { return m_connectors; }

protected:
    BOOL OnInitDialog() override;
    bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    EndpointControl* Endpoints() const;
    void FillInputs();
    void ShowLineInputControls();
    void ShowSupportedRadios();
    void ApplyRadios();
    void OnRadio(WORD code);
    void OnInputChange(WORD code);
    void OnMute(WORD code);
    void OnLevelScroll(HWND trackbar);
    bool CurrentIsLine() const;

    CTarnACPLDlg* m_parent;
    int32_t m_inputCount = 0;
    GUID m_connectors[kMaxRecordInputs] = {};
    int32_t m_currentInput = 0;
    float m_left = 0.0f;
    float m_right = 0.0f;
    float m_maximum = 0.0f;
    float m_minimum = 0.0f;
    float m_step = 0.0f;
    float m_leftMinimum = 0.0f;   // the left channel's range, which may differ from the right's
    float m_leftMaximum = 0.0f;
};
