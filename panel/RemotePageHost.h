// What the remote-control page needs of the main dialog: its window, the
// panel operations of the protocol, the "Remote Control" group and the two
// values that survive a rebuild of the pages.
#pragma once

#include "remote/RemotePanel.h"

#include <windows.h>

class IRemotePageHost {
public:
    virtual ~IRemotePageHost() = default;

    // The window that receives WM_PANEL_REMOTE_DATAGRAM.
    virtual HWND MainWindow() = 0;
    virtual IRemotePanel& Panel() = 0;

    virtual void SetLocalAddressDisplay(DWORD address) = 0;              // 1079, host order
    virtual void SetRemoteAddressDisplay(DWORD address, bool show) = 0;  // 1080, cleared unless show
    virtual void SetNetworkServerText(const char* text) = 0;             // 1082
    virtual void EnableNetworkServer(bool enable) = 0;

    // Set while the pages are rebuilt by a mode switch.
    virtual bool ModeSwitched() = 0;
    virtual void ClearModeSwitched() = 0;
    // A copy of the page's active flag that outlives the page.
    virtual int RemoteServiceState() = 0;
    virtual void SetRemoteServiceState(int state) = 0;

    // Around a service stop, whose wait handles sent messages: what would
    // destroy the page meanwhile (a device change) waits until the end.
    virtual void BeginServiceStop() {}
    virtual void EndServiceStop() {}
};
