// The panel's icon in the notification area: tip, menu and removal.
#pragma once

#include <windows.h>
#include <shellapi.h>

constexpr UINT kTrayIconId = 50;
constexpr UINT kTrayTipChars = 128;  // terminator included
constexpr char kTrayTipPresent[] = "VelmorR5R6";
constexpr char kTrayTipAbsent[] = "N/A";
// The message the shell broadcasts when the notification area was recreated.
constexpr char kTaskbarCreatedMessage[] = "TaskbarCreated";

// The record size the shell takes: the full record from shell 5.0 on, the
// older form (without balloon GUID and icon) before. version = major << 16 | minor.
UINT TrayRecordSize(DWORD shellVersion);
// Shell32's DllGetVersion as major << 16 | minor; 0 when it cannot be asked.
DWORD ShellVersion();

// "Hide" (window visible) or "Show", then "Exit"; null when no menu could be made.
HMENU BuildTrayMenu(bool windowVisible);

class CTrayIcon {
public:
    // How requests reach the notification area: Shell_NotifyIconA, or a
    // stand-in (tests, whose notification area may stall).
    using Notify = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAA data);

    CTrayIcon() = default;
    ~CTrayIcon() { Remove(); }
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // Adds the icon with tip "VelmorR5R6", notices going to window as WM_PANEL_TRAY.
    void Add(HWND window);
    void SetTip(const char* text);
    // After the notification area restarted: the icon again, with its tip.
    void AddAgain();
    void Remove();
    // The pop-up menu at the cursor: "Hide" or "Show" by the window's
    // visibility, then "Exit"; the choice arrives as WM_COMMAND.
    void ShowMenu(HWND window);

    void UseNotify(Notify notify) { m_notify = notify ? notify : Shell_NotifyIconA; }

    bool Added() const { return m_added; }
    const NOTIFYICONDATAA& Data() const { return m_data; }

private:
    void LoadIcon();
    void DropIcon();

    NOTIFYICONDATAA m_data = {};
    bool m_added = false;
    Notify m_notify = Shell_NotifyIconA;
};
