// The main dialog as the remote control sees it: the panel operations the
// protocol uses and the "Remote Control" group the remote-control page
// drives. A part of CTarnACPLDlg that lives beside it, so that the dialog's
// own operations keep their Win32 types.
#pragma once

#include "RemotePageHost.h"
#include "TarnACPLDlg.h"

#include "remote/RemotePanel.h"

class CTarnACPLDlg::RemoteSide : public IRemotePanel, public IRemotePageHost {
public:
    explicit RemoteSide(CTarnACPLDlg& dialog) : m_dialog(dialog) {}

    // IRemotePanel
    bool PlaybackAvailable() override { return m_dialog.m_playAvailable != 0; }
    bool RecordAvailable() override { return m_dialog.m_recAvailable != 0; }
    bool AsioAvailable() override { return m_dialog.m_asioAvailable != 0; }
    HRESULT ShowPlaybackFormat(uint32_t* rate, uint32_t* bits) override;
    HRESULT GetPlaybackMute(bool* muted) override;
    HRESULT GetRenderVolume(VolumeRange* range) override;
    HRESULT SetPlaybackFormat(uint32_t rate, uint32_t bits) override;
    bool OffersPlaybackFormat(uint32_t rate, uint32_t bits) override;
    bool OffersRecordFormat(uint32_t rate, uint32_t bits) override;
    void ReselectPlaybackFormat() override;
    HRESULT SetRenderVolume(float left, float right) override;
    HRESULT SetPlaybackMute(bool mute) override;
    int RecordInputCount() override;
    bool IsLineInput(int input) override;
    HRESULT GetSelectedInput(int* input) override;
    HRESULT GetRecordFormat(int input, uint32_t* rate, uint32_t* bits) override;
    HRESULT GetCaptureVolume(int input, VolumeRange* range) override;
    HRESULT GetRecordMute(int input, bool* muted) override;
    HRESULT SelectRecordInput(int input) override;
    HRESULT SetRecordFormat(int input, uint32_t rate, uint32_t bits) override;
    HRESULT SetCaptureVolume(int input, float left, float right) override;
    HRESULT SetRecordMute(int input, bool mute) override;
    void CollectRemoteCapabilities(RemoteCapabilities* caps) override;
    void GetStreamCopies(StreamCopies* copies) override;
    void PressVolumeKey(bool up) override;

    // IRemotePageHost
    HWND MainWindow() override { return m_dialog.m_window; }
    IRemotePanel& Panel() override { return *this; }
    void SetLocalAddressDisplay(DWORD address) override { m_dialog.SetLocalAddressDisplay(address); }
    void SetRemoteAddressDisplay(DWORD address, bool show) override;
    void SetNetworkServerText(const char* text) override;
    void EnableNetworkServer(bool enable) override;
    bool ModeSwitched() override { return m_dialog.m_modeSwitched != 0; }
    void ClearModeSwitched() override { m_dialog.m_modeSwitched = 0; }
    int RemoteServiceState() override { return m_dialog.m_remoteState; }
    void SetRemoteServiceState(int state) override { m_dialog.m_remoteState = state; }
    void BeginServiceStop() override { m_dialog.BeginPageWork(); }
    void EndServiceStop() override { m_dialog.EndPageWork(); }

private:
    CTarnACPLDlg& m_dialog;
    // What the remote address display (1080) was last given.
    bool m_remoteDisplaySet = false;
    DWORD m_remoteDisplayAddress = 0;
    bool m_remoteDisplayShown = false;
};
