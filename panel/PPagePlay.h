// The Playback page: the render endpoint's shared-mode format (a list from
// the device's masks, and rate and depth radios), its volume and mute, and
// the format the device itself reports for its running stream. In ASIO mode
// a hidden instance only feeds the main dialog's device stream line.
#pragma once

#include "Dialog.h"
#include "PlayRecordFormats.h"

#include <windows.h>

#include <cstdint>

class CTarnACPLDlg;
class EndpointControl;

class CPPagePlay : public CDialog {
public:
    // parent may be null: the page then only shows the device stream.
    explicit CPPagePlay(CTarnACPLDlg* parent);
    ~CPPagePlay() override;

    void ReselectCurrentFormat();
    void RefreshVolume();
    void RefreshMute();
    // From the main dialog's poll: the device's own stream.
    void ShowDeviceFormat(HRESULT readResult, bool active, int rate, int bits, bool firstTick);
    HRESULT GetSupportedFormats(PlayFormatList* list) const;

    int FormatCount() const { return m_formatCount; }
    const PageFormat& Format(int index) const { return m_formats[index]; }
    bool DeviceFormatShown() const { return m_deviceFormatShown != 0; }

protected:
    BOOL OnInitDialog() override;
    bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    EndpointControl* Endpoints() const;
    void FillFormats();
    void OnFormatChange(WORD code);
    void OnRadio(WORD code);
    void OnMute(WORD code);
    void OnLevelScroll(HWND trackbar);

    CTarnACPLDlg* m_parent;
    float m_left = 0.0f;
    float m_right = 0.0f;
    float m_maximum = 0.0f;
    float m_minimum = 0.0f;
    float m_step = 0.0f;
    float m_leftMinimum = 0.0f;   // the left channel's range, which may differ from the right's
    float m_leftMaximum = 0.0f;
    int32_t m_deviceFormatShown = 0;
    int32_t m_deviceRate = 0;
    int32_t m_deviceBits = 0;
    PageFormat m_formats[kMaxPageFormats] = {};
    int32_t m_formatCount = 0;
};
