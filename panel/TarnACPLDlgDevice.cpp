// The main dialog's device watch: opening the audio device, detecting the
// device through its endpoints, the once-a-second poll, and USB arrival and
// removal with the endpoint notice that completes an arrival.
#include "TarnACPLDlg.h"

#include "DeviceMatch.h"
#include "PPageASIO.h"
#include "PPagePlay.h"
#include "PanelIds.h"
#include "panel/EndpointControl.h"
#include "panel/WindowsVersion.h"

#include "device/DeviceApi.h"
#include "device/SupportedDevices.h"
#include "device/VendorStatus.h"

#include <dbt.h>

#include <cstddef>
#include <cstring>

// Tries the high-speed interface, then the full-speed one; true when open.
bool CTarnACPLDlg::OpenAudioDevice() {
    if (SUCCEEDED(OpenAudioDeviceByService(&m_audioDevice, kServiceHighSpeed))) {
        m_openRetry = 0;
        return true;
    }
    m_audioDevice = INVALID_HANDLE_VALUE;
    if (SUCCEEDED(OpenAudioDeviceByService(&m_audioDevice, kServiceFullSpeed))) return true;
    m_audioDevice = INVALID_HANDLE_VALUE;
    return false;
}

void CTarnACPLDlg::CloseAudioDevice() {
    if (m_audioDevice == INVALID_HANDLE_VALUE) return;
    DeviceApi().CloseHandle(m_audioDevice);
    m_audioDevice = INVALID_HANDLE_VALUE;
}

void CTarnACPLDlg::ApplyVersionLayout() {
    if (m_endpoints && m_endpoints->Found()) m_endpoints->ReleaseEndpoints();
    m_playAvailable = m_recAvailable = m_asioAvailable = 0;
    EnterMode(EndpointControlAvailable(m_versionCode));
}

HRESULT CTarnACPLDlg::DetectDevice() {
    if (m_endpoints) {
        for (const SupportedDevice& device : kSupportedDevices) {
            if (device.vendorId == 0) break;
            int record = 0, playback = 0, asio = 0;
            if (SUCCEEDED(m_endpoints->FindEndpoints(device.vendorId, device.productId, device.interfaceNumber,
                                                     &record, &playback, &asio))) {
                m_recAvailable = record;
                m_playAvailable = playback;
                m_asioAvailable = asio;
                m_vendorId = device.vendorId;
                m_productId = device.productId;
                // Without endpoints the search accepts the first entry
                // blindly; the ids of the device actually attached serve
                // the formats and the volume keys better.
                if (!EndpointControlAvailable(m_versionCode)) FindPresentDeviceIds(&m_vendorId, &m_productId);
                return S_OK;
            }
        }
    }
    m_playAvailable = m_recAvailable = m_asioAvailable = 0;
    return E_FAIL;
}

void CTarnACPLDlg::QueryFormats() { QueryKsFormats(m_vendorId, m_productId, &m_masks); }

// ---------------------------------------------------------------- poll

LRESULT CTarnACPLDlg::OnTimer(WPARAM id, LPARAM) {
    if (id == IDT_PANEL_POLL) Poll();
    return 0;
}

void CTarnACPLDlg::Poll() {
    if (m_pageWork != 0) return;  // the next tick polls
    if (m_firstTick) SendMessageA(Hwnd(), WM_COMMAND, ID_PANEL_REFRESH_ASIO, 0);

    if (m_pageAsio && m_pageAsio->HasMappedBlock()) {
        UINT message = 0;
        WPARAM command = 0;
        if (m_pageAsio->TakeDriverRequest(&message, &command)) SendMessageA(Hwnd(), message, command, 0);
    }

    if (m_endpoints) {
        WORD channels = 0, bits = 0;
        DWORD rate = 0, mask = 0;
        if (m_pagePlay && SUCCEEDED(m_endpoints->GetRenderFormat(&channels, &rate, &bits, &mask)) &&
            (rate != m_playRate || bits != m_playBits)) {
            PostMessageA(Hwnd(), WM_PANEL_PLAY_FORMAT_CHANGED, 0, 0);
        }
        for (int i = 0; m_pageRecord && i < m_recInputCount; ++i) {
            if (SUCCEEDED(m_endpoints->GetCaptureFormat(i, &channels, &rate, &bits, &mask)) &&
                (rate != m_recRate || bits != m_recBits)) {
                PostMessageA(Hwnd(), WM_PANEL_REC_FORMAT_CHANGED, i, 0);
            }
        }
    }

    if (m_audioDevice != INVALID_HANDLE_VALUE) {
        ULONG streaming = 0, reserved = 0, rate = 0, bits = 0;
        HRESULT hr = QueryDeviceStreamStatus(m_audioDevice, &streaming, &reserved, &rate, &bits);
        if (m_pagePlay) {
            m_pagePlay->ShowDeviceFormat(hr, streaming != 0, static_cast<int>(rate), static_cast<int>(bits),
                                         m_firstTick != 0);
        }
    } else {
        if (m_pagePlay) m_pagePlay->ShowDeviceFormat(E_FAIL, false, 0, 0, m_firstTick != 0);
        if (m_openRetry) {
            if (m_retryCountdown > 0) {
                --m_retryCountdown;
            } else {
                m_retryCountdown = kOpenRetryTicks;
                if (OpenAudioDevice()) {
                    m_openRetry = 0;
                    if (!EndpointControlAvailable(m_versionCode)) {
                        PageWork work(*this);
                        DestroyPages();
                        m_asioAvailable = 1;
                        BuildPages();
                    }
                }
            }
        }
    }
    m_firstTick = 0;
}

// ---------------------------------------------------------------- arrival and removal

LRESULT CTarnACPLDlg::OnDeviceChange(WPARAM event, LPARAM data) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return 0;
    auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return 0;
    auto* notice = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(data);
    // The name ends within the notice.
    size_t room = header->dbch_size > offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name)
                      ? header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name)
                      : 0;
    if (room == 0 || !std::memchr(notice->dbcc_name, 0, room)) return 0;
    if (!IsSupportedDevicePath(notice->dbcc_name)) return 0;
    if (!DeferIfBusy(event == DBT_DEVICEARRIVAL ? kDeferredArrival : kDeferredRemoval)) ApplyDeviceEvent(event);
    return TRUE;
}

void CTarnACPLDlg::ApplyDeviceEvent(WPARAM event) {
    PageWork work(*this);
    if (event == DBT_DEVICEARRIVAL) {
        m_tray.SetTip(kTrayTipPresent);
        ApplyVersionLayout();
        DestroyPages();
        m_arrivalPending = 1;
        m_openRetry = 1;
        m_retryCountdown = kOpenRetryTicks;
        if (!EndpointControlAvailable(m_versionCode)) HandleEndpointActive();
    } else {
        m_openRetry = 0;
        m_tray.SetTip(kTrayTipAbsent);
        ApplyVersionLayout();
        m_vendorId = m_productId = 0;
        m_masks = KsFormatMasks();
        DestroyPages();
        BuildPages();
        CloseAudioDevice();
    }
}

// An endpoint of the device enabled again (or plugged into its jack) while
// the pages stand: the search runs again and the pages follow what it found.
void CTarnACPLDlg::RefreshEndpoints() {
    if (!EndpointControlAvailable(m_versionCode) || !m_endpoints || !m_endpoints->Found()) return;
    const UINT render = m_endpoints->RenderCount(), capture = m_endpoints->CaptureCount();
    m_endpoints->ReleaseEndpoints();
    HRESULT hr = DetectDevice();
    if (SUCCEEDED(hr) && render == m_endpoints->RenderCount() && capture == m_endpoints->CaptureCount()) return;
    PageWork work(*this);
    DestroyPages();
    BuildPages();
}

LRESULT CTarnACPLDlg::OnEndpointActive(WPARAM, LPARAM) {
    if (!DeferIfBusy(kDeferredEndpointActive)) HandleEndpointActive();
    return 0;
}

// The notice comes for any endpoint that became active: until ours is
// found the arrival stays pending, with the Information page meanwhile.
void CTarnACPLDlg::HandleEndpointActive() {
    if (!m_arrivalPending) {
        RefreshEndpoints();
        return;
    }
    PageWork work(*this);
    if (m_options.arrivalSettleMs) SleepEx(m_options.arrivalSettleMs, FALSE);
    if (FAILED(DetectDevice())) {
        if (m_pageCount == 0) {
            DestroyPages();
            BuildPages();
        }
        return;
    }
    m_arrivalPending = 0;
    QueryFormats();
    if (m_audioDevice == INVALID_HANDLE_VALUE && !OpenAudioDevice() && !EndpointControlAvailable(m_versionCode)) {
        m_asioAvailable = 0;
    }
    // A mode button pressed while the arrival waited has built pages since:
    // they are replaced, not added to.
    DestroyPages();
    BuildPages();
}
