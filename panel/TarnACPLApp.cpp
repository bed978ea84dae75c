// The control panel program: one panel per desktop, its main dialog run
// modally; the program ends with the dialog.
#include "PanelIds.h"
#include "TarnACPLDlg.h"

#include "remote/RemoteStartSwitch.h"

#include <windows.h>
#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // 0xFF: the classes up to the tab strip; the remote-control group's
    // address fields need the internet classes too.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), 0xFF | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    CDialog::SetResourceModule(instance);

    if (HWND running = FindWindowA(nullptr, kPanelWindowTitle)) {
        // A panel hidden in the notification area comes back on the screen
        // first; the call does not wait for a panel that is busy.
        ShowWindowAsync(running, IsIconic(running) ? SW_RESTORE : SW_SHOW);
        SetForegroundWindow(running);
        return 0;
    }

    CTarnACPLDlg::Options options;
    uint16_t port = 0;
    if (ParseRemoteSwitch(GetCommandLineA(), &port) == RemoteSwitch::Start) options.remoteStartPort = port;
    CTarnACPLDlg dialog(options);
    dialog.DoModal(nullptr);
    return 0;
}
