// The control panel program: one panel per desktop, its main dialog run
// modally; the program ends with the dialog.
#include "PanelIds.h"
#include "TarnACPLDlg.h"

#include <windows.h>
#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), 0xFF};
    InitCommonControlsEx(&controls);
    CDialog::SetResourceModule(instance);

    if (HWND running = FindWindowA(nullptr, kPanelWindowTitle)) {
        SetForegroundWindow(running);
        return 0;
    }

    CTarnACPLDlg dialog;
    dialog.DoModal(nullptr);
    return 0;
}
