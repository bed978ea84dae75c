// A control panel that has hung: a window with the panel's title that never
// reads its messages, so the exit command posted to it goes unanswered. The
// uninstaller has to end its process. Ends by itself after two minutes.
#include "asio/AsioSample.h"

#include <windows.h>

int main() {
    HWND window = CreateWindowExA(0, "STATIC", kPanelWindowTitle, WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (!window) return 1;
    Sleep(120000);
    DestroyWindow(window);
    return 0;
}
