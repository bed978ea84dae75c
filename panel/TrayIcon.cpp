#include "TrayIcon.h"

#include "PanelIds.h"

#include "panel/Dialog.h"

#include <shlwapi.h>

#include <cstring>

UINT TrayRecordSize(DWORD shellVersion) {
    return shellVersion >= MAKELONG(0, 5) ? sizeof(NOTIFYICONDATAA) : NOTIFYICONDATAA_V2_SIZE;
}

DWORD ShellVersion() {
    HMODULE shell = LoadLibraryA("Shell32.dll");
    if (!shell) return 0;
    DWORD version = 0;
    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(GetProcAddress(shell, "DllGetVersion")));
    if (getVersion) {
        DLLVERSIONINFO info = {};
        info.cbSize = sizeof(info);
        if (SUCCEEDED(getVersion(&info))) version = MAKELONG(info.dwMinorVersion, info.dwMajorVersion);
    }
    FreeLibrary(shell);
    return version;
}

void CTrayIcon::LoadIcon() {
    m_data.hIcon = static_cast<HICON>(LoadImageA(CDialog::ResourceModule(), MAKEINTRESOURCEA(IDI_PANEL),
                                                 IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), 0));
}

// The shell keeps its own copy of the icon.
void CTrayIcon::DropIcon() {
    if (m_data.hIcon && DestroyIcon(m_data.hIcon)) m_data.hIcon = nullptr;
}

void CTrayIcon::Add(HWND window) {
    m_data = NOTIFYICONDATAA();
    m_data.cbSize = TrayRecordSize(ShellVersion());
    m_data.hWnd = window;
    m_data.uID = kTrayIconId;
    m_data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_data.uCallbackMessage = WM_PANEL_TRAY;
    LoadIcon();
    std::strncpy(m_data.szTip, kTrayTipPresent, sizeof(m_data.szTip) - 1);
    m_notify(NIM_ADD, &m_data);
    DropIcon();
    m_added = true;  // a refused add is not retried; later requests fail quietly
}

void CTrayIcon::SetTip(const char* text) {
    LoadIcon();
    static_assert(sizeof(m_data.szTip) == kTrayTipChars, "tip buffer");
    std::memset(m_data.szTip, 0, sizeof(m_data.szTip));
    if (text) std::strncpy(m_data.szTip, text, sizeof(m_data.szTip) - 1);
    m_notify(NIM_MODIFY, &m_data);
    DropIcon();
}

void CTrayIcon::AddAgain() {
    if (!m_added) return;
    LoadIcon();
    m_notify(NIM_ADD, &m_data);
    DropIcon();
}

void CTrayIcon::Remove() {
    if (!m_added) return;
    m_data.uFlags = 0;
    m_notify(NIM_DELETE, &m_data);
    m_added = false;
}

HMENU BuildTrayMenu(bool windowVisible) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return nullptr;
    if (windowVisible) {
        AppendMenuA(menu, MF_STRING, ID_TRAY_HIDE, "Hide");
    } else {
        AppendMenuA(menu, MF_STRING, ID_TRAY_SHOW, "Show");
    }
    AppendMenuA(menu, MF_STRING, ID_TRAY_EXIT, "Exit");
    return menu;
}

void CTrayIcon::ShowMenu(HWND window) {
    POINT cursor = {};
    GetCursorPos(&cursor);
    HMENU menu = BuildTrayMenu(IsWindowVisible(window) != FALSE);
    if (!menu) return;
    SetForegroundWindow(window);
    TrackPopupMenu(menu, TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, window, nullptr);
    // A notification-area menu needs a switch to the window afterwards, or
    // the next one may close as soon as it opens.
    PostMessageA(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}
