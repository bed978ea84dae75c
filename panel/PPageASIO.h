// The ASIO page: the driver's state and stream from the status block, and
// the preferred buffer size and sample width the driver takes at its next init.
#pragma once

#include "Dialog.h"

#include "device/StatusBlock.h"

#include <cstdint>

class CTarnACPLDlg;

// The ASIO part of the panel's status for the remote control.
constexpr int kAsioStatusWords = 66;
constexpr int kAsioStatusBufferCountAt = 60;
constexpr int kAsioStatusDepthsAt = 61;
constexpr int kAsioStatusDepthCountAt = 65;
struct AsioStatusRecord {
    int32_t words[kAsioStatusWords];
};

class CPPageASIO : public CDialog {
public:
    // parent may be null (no summary in a main dialog then).
    explicit CPPageASIO(CTarnACPLDlg* parent);
    ~CPPageASIO() override;

    void RefreshFromBlock();
    // A pending driver request: true with the command (ID_PANEL_SHOW_ASIO or
    // ID_PANEL_REFRESH_ASIO) to send as *message; the request is taken.
    bool TakeDriverRequest(UINT* message, WPARAM* command);
    HRESULT GetAsioStatus(AsioStatusRecord* record) const;

    bool HasMappedBlock() const { return m_block.IsMapped(); }
    CStatusBlock& Block() { return m_block; }

protected:
    BOOL OnInitDialog() override;
    void OnDestroy() override;

private:
    void OnPreferred32();
    void OnPreferred24();
    void OnPreferred16();
    void WritePreferred(int radioId, uint32_t bits);
    void OnBufferSize(WORD code);
    void OnReset();
    void OnSampleRate() {}
    void SaveAndRelease();

    CTarnACPLDlg* m_parent;
    CStatusBlock m_block;
};
