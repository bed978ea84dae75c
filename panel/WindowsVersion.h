// Which Windows the panel runs on decides whether it drives the device's
// Windows audio endpoints (Vista to Windows 8 only).
#pragma once

#include <windows.h>

// What the classification reads from the system; injectable for tests.
struct WindowsVersionInputs {
    BOOL versionRead;        // GetVersionExA succeeded
    DWORD platformId;        // VER_PLATFORM_WIN32_NT, ...
    DWORD majorVersion;
    DWORD minorVersion;
    BYTE productType;        // VER_NT_WORKSTATION, VER_NT_SERVER, VER_NT_DOMAIN_CONTROLLER
    WORD processorArchitecture;  // PROCESSOR_ARCHITECTURE_*
};

// Version codes of the classification.
constexpr int kWinCodeXp = 0;              // 5.1, and 5.2 workstation on AMD64
constexpr int kWinCodeServer2003 = 1;
constexpr int kWinCodeVista = 2;
constexpr int kWinCodeServer2008 = 3;
constexpr int kWinCode7 = 4;
constexpr int kWinCodeServer2008R2 = 5;    // 6.1 or 6.2 server
constexpr int kWinCode8 = 6;
constexpr int kWinCodeOther = 7;           // 5.0, 6.3 and later

// What callers assume when the classification fails.
constexpr int kWinCodeFallback = kWinCode7;
constexpr int kIs32BitFallback = 1;

// Reads GetVersionExA and the native processor architecture
// (GetNativeSystemInfo from kernel32 when present, else GetSystemInfo).
WindowsVersionInputs ReadWindowsVersion();

// The version code and the 32-bit flag (0 on AMD64 and IA64, else 1; always 1
// for 5.x). E_FAIL when the version could not be read, the platform is not NT
// or the major version is 4 or less; the outputs are then left alone.
HRESULT ClassifyWindowsVersion(const WindowsVersionInputs& inputs, int* versionCode, int* is32Bit);
HRESULT ClassifyWindowsVersion(int* versionCode, int* is32Bit);

// Endpoint control is used on codes 2 to 6.
bool EndpointControlAvailable(int versionCode);
