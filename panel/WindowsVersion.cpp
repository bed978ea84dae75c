#include "panel/WindowsVersion.h"

namespace {

WORD NativeArchitecture() {
    SYSTEM_INFO info = {};
    using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto native = kernel ? reinterpret_cast<GetNativeSystemInfoFn>(
                               reinterpret_cast<void*>(GetProcAddress(kernel, "GetNativeSystemInfo")))
                         : nullptr;
    if (native) {
        native(&info);
    } else {
        GetSystemInfo(&info);
    }
    return info.wProcessorArchitecture;
}

}  // namespace

WindowsVersionInputs ReadWindowsVersion() {
    WindowsVersionInputs inputs = {};
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#ifdef __GNUC__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    inputs.versionRead = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version));
#ifdef __GNUC__
#pragma GCC diagnostic pop
#endif
    inputs.platformId = version.dwPlatformId;
    inputs.majorVersion = version.dwMajorVersion;
    inputs.minorVersion = version.dwMinorVersion;
    inputs.productType = version.wProductType;
    inputs.processorArchitecture = NativeArchitecture();
    return inputs;
}

HRESULT ClassifyWindowsVersion(const WindowsVersionInputs& in, int* versionCode, int* is32Bit) {
    if (!versionCode || !is32Bit) return E_FAIL;
    if (!in.versionRead || in.platformId != VER_PLATFORM_WIN32_NT || in.majorVersion <= 4) return E_FAIL;
    const bool workstation = in.productType == VER_NT_WORKSTATION;
    const bool amd64 = in.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
    int code = kWinCodeOther;
    int flag = 1;
    if (in.majorVersion == 5) {
        if (in.minorVersion == 0) {
            code = kWinCodeOther;
        } else if (in.minorVersion == 1) {
            code = kWinCodeXp;
        } else if (in.minorVersion == 2) {
            code = workstation && amd64 ? kWinCodeXp : kWinCodeServer2003;
        }
    } else {
        if (in.majorVersion == 6 && in.minorVersion <= 2) {
            if (in.minorVersion == 0) {
                code = workstation ? kWinCodeVista : kWinCodeServer2008;
            } else if (!workstation) {
                code = kWinCodeServer2008R2;
            } else {
                code = in.minorVersion == 1 ? kWinCode7 : kWinCode8;
            }
        }
        flag = amd64 || in.processorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ? 0 : 1;
    }
    *versionCode = code;
    *is32Bit = flag;
    return S_OK;
}

HRESULT ClassifyWindowsVersion(int* versionCode, int* is32Bit) {
    return ClassifyWindowsVersion(ReadWindowsVersion(), versionCode, is32Bit);
}

bool EndpointControlAvailable(int versionCode) {
    return versionCode >= kWinCodeVista && versionCode <= kWinCode8;
}
