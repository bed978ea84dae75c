#include "panel/WindowsVersion.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Row {
    DWORD major, minor;
    BYTE product;
    WORD architecture;
    int code, is32;
};

TEST(WindowsVersion, TableOfVersionsProductsAndArchitectures) {
    const BYTE ws = VER_NT_WORKSTATION, srv = VER_NT_SERVER, dc = VER_NT_DOMAIN_CONTROLLER;
    const WORD x86 = PROCESSOR_ARCHITECTURE_INTEL, x64 = PROCESSOR_ARCHITECTURE_AMD64,
               ia64 = PROCESSOR_ARCHITECTURE_IA64, arm = PROCESSOR_ARCHITECTURE_ARM;
    const Row rows[] = {
        {5, 0, ws, x86, 7, 1},  {5, 1, ws, x86, 0, 1},  {5, 1, ws, x64, 0, 1},  {5, 2, ws, x64, 0, 1},
        {5, 2, ws, x86, 1, 1},  {5, 2, srv, x64, 1, 1}, {6, 0, ws, x86, 2, 1},  {6, 0, ws, x64, 2, 0},
        {6, 0, srv, x64, 3, 0}, {6, 0, dc, ia64, 3, 0}, {6, 1, ws, x86, 4, 1},  {6, 1, ws, x64, 4, 0},
        {6, 2, ws, x64, 6, 0},  {6, 2, ws, arm, 6, 1},  {6, 1, srv, x64, 5, 0}, {6, 2, dc, x64, 5, 0},
        {6, 3, ws, x64, 7, 0},  {6, 4, srv, x86, 7, 1}, {10, 0, ws, x64, 7, 0},
    };
    for (const Row& r : rows) {
        WindowsVersionInputs in = {TRUE, VER_PLATFORM_WIN32_NT, r.major, r.minor, r.product, r.architecture};
        int code = -1, is32 = -1;
        ASSERT_EQ(S_OK, ClassifyWindowsVersion(in, &code, &is32)) << r.major << "." << r.minor;
        EXPECT_EQ(r.code, code) << r.major << "." << r.minor << " product " << int(r.product);
        EXPECT_EQ(r.is32, is32) << r.major << "." << r.minor << " arch " << r.architecture;
        EXPECT_EQ(code >= 2 && code <= 6, EndpointControlAvailable(code));
    }

    // Failures leave the outputs for the caller's assumption.
    const WindowsVersionInputs bad[] = {
        {FALSE, VER_PLATFORM_WIN32_NT, 6, 1, ws, x64},
        {TRUE, VER_PLATFORM_WIN32_WINDOWS, 6, 1, ws, x64},
        {TRUE, VER_PLATFORM_WIN32_NT, 4, 0, ws, x86},
    };
    for (const WindowsVersionInputs& in : bad) {
        int code = -1, is32 = -1;
        EXPECT_EQ(E_FAIL, ClassifyWindowsVersion(in, &code, &is32));
        EXPECT_EQ(-1, code);
    }
}

constexpr char kProbeVariable[] = "VELMOR_VERSION_PROBE";
constexpr char kProbeProgram[] = "velmor-version-probe.exe";

// What a copy of this program under its own name is told when the prefix
// gives that name a Windows version (HKCU Software\Wine\AppDefaults).
std::string ClassificationAs(const char* version) {
    const std::string key = std::string("Software\\Wine\\AppDefaults\\") + kProbeProgram;
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr)) {
        return "(no key)";
    }
    RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>(std::strlen(version) + 1));
    RegCloseKey(handle);
    SetEnvironmentVariableA(kProbeVariable, "1");
    ChildResult child = RunChild("\"" + SiblingProgram(kProbeProgram) +
                                 "\" --gtest_filter=WindowsVersion.TheRunningSystemIsClassified", 120000);
    SetEnvironmentVariableA(kProbeVariable, nullptr);
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    size_t at = child.output.find("classified as ");
    return at == std::string::npos ? child.output : child.output.substr(at + 14, child.output.find('\n', at) - at - 14);
}

// What this Windows (or Wine) tells the panel: asked for Windows XP and for
// Windows 8 by the prefix, a copy of this program classifies them so.
TEST(WindowsVersion, TheRunningSystemIsClassified) {
    int code = -1, is32 = -1;
    ASSERT_EQ(S_OK, ClassifyWindowsVersion(&code, &is32));
    if (GetEnvironmentVariableA(kProbeVariable, nullptr, 0) > 0) {
        std::printf("classified as %d %d\n", code, is32);
        return;
    }
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string copy = SiblingProgram(kProbeProgram);
    ASSERT_TRUE(CopyFileA(self, copy.c_str(), FALSE)) << "step: a copy of this program";
    // 64-bit Windows under both: XP is a 32-bit code (5.x), Windows 8 not.
    EXPECT_EQ("0 1", ClassificationAs("winxp"));
    EXPECT_EQ("6 0", ClassificationAs("win8"));
    DeleteFileA(copy.c_str());
}

}  // namespace
