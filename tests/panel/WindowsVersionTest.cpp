#include "panel/WindowsVersion.h"

#include <gtest/gtest.h>

#include <cstdio>

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

// What this Windows (or Wine) tells the panel.
TEST(WindowsVersion, TheRunningSystemIsClassified) {
    WindowsVersionInputs in = ReadWindowsVersion();
    int code = -1, is32 = -1;
    ASSERT_EQ(S_OK, ClassifyWindowsVersion(&code, &is32));
    std::printf("reported %lu.%lu product %u architecture %u: code %d, 32-bit %d\n",
                static_cast<unsigned long>(in.majorVersion), static_cast<unsigned long>(in.minorVersion),
                in.productType, in.processorArchitecture, code, is32);
    const bool wide = in.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
    EXPECT_EQ(in.majorVersion == 5 || !wide ? 1 : 0, is32);
}

}  // namespace
