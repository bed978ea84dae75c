// The 32-bit driver DLL called the way 32-bit hosts call it. Each IASIO
// method is reached through its vtable slot by a hand-written call: the
// object in ECX, the arguments pushed right to left, and after the return
// the stack must be where it was before the pushes, because a thiscall
// method pops its own arguments. A method built as cdecl leaves them behind
// (or takes its first argument for the object), one built as stdcall pops
// the object too; either shows as bytes left on the stack or a wrong result.
// IUnknown's slots are called stdcall with ECX holding garbage.
#include "asio/AsioInterface.h"
#include "simulator/SimDevice.h"
#include "simulator/SimState.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

#if defined(__i386__)

// Calls fn with ECX = ecx and count dwords from args on the stack; *left gets
// the bytes the callee left on the stack (0 when it popped exactly them).
extern "C" uint32_t VelmorCallSlot(const void* fn, uint32_t ecx, const uint32_t* args, uint32_t count,
                                   int32_t* left);
asm(R"(
    .text
    .globl _VelmorCallSlot
_VelmorCallSlot:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    movl 16(%ebp), %esi
    movl 20(%ebp), %ecx
    andl $-16, %esp
    movl %ecx, %eax
    shll $2, %eax
    negl %eax
    andl $15, %eax
    subl %eax, %esp
    movl %esp, %ebx
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  movl 12(%ebp), %ecx
    call *8(%ebp)
    movl %ebx, %edx
    subl %esp, %edx
    movl 24(%ebp), %ecx
    movl %edx, (%ecx)
    leal -8(%ebp), %esp
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

namespace {

enum Slot {
    kQueryInterface, kAddRef, kRelease,
    kInit, kGetDriverName, kGetDriverVersion, kGetErrorMessage, kStart, kStop, kGetChannels, kGetLatencies,
    kGetBufferSize, kCanSampleRate, kGetSampleRate, kSetSampleRate, kGetClockSources, kSetClockSource,
    kGetSamplePosition, kGetChannelInfo, kCreateBuffers, kDisposeBuffers, kControlPanel, kFuture, kOutputReady,
    kSlotCount
};

constexpr uint32_t kGarbageEcx = 0xDEADBEEF;
const CLSID kClsid = {0x3C1D5E27, 0x90A4, 0x4F6B, {0x8D, 0x12, 0x55, 0x6E, 0x0B, 0x71, 0xC9, 0x3A}};

uint32_t Word(const void* pointer) { return reinterpret_cast<uint32_t>(pointer); }

// A double as the two stack words a host pushes for it.
struct Halves {
    uint32_t lo, hi;
};
Halves Split(double value) {
    Halves h;
    std::memcpy(&h, &value, sizeof(h));
    return h;
}

struct Object {
    void* self = nullptr;
    void* const* Table() const { return *static_cast<void* const* const*>(self); }
    // A thiscall method; fails the test when the stack is not balanced.
    int32_t Method(Slot slot, std::initializer_list<uint32_t> args) const {
        int32_t left = -1;
        auto result = VelmorCallSlot(Table()[slot], Word(self), args.begin(), args.size(), &left);
        EXPECT_EQ(0, left) << "slot " << slot << " left bytes on the stack";
        return static_cast<int32_t>(result);
    }
    // An IUnknown method: stdcall, the object as the first stack argument.
    uint32_t Com(Slot slot, std::initializer_list<uint32_t> args) const {
        std::vector<uint32_t> all{Word(self)};
        all.insert(all.end(), args.begin(), args.end());
        int32_t left = -1;
        auto result = VelmorCallSlot(Table()[slot], kGarbageEcx, all.data(), all.size(), &left);
        EXPECT_EQ(0, left) << "IUnknown slot " << slot;
        return result;
    }
};

Object g_driver;
std::atomic<int> g_switches{0};
std::atomic<int> g_unbalanced{0};
std::atomic<int> g_badArguments{0};
std::atomic<double> g_rateChangedTo{0};
// Position and time stamp of each switch, as its time record gave them.
constexpr int kRecorded = 64;
uint64_t g_positions[kRecorded] = {};
uint64_t g_times[kRecorded] = {};

uint64_t Join(uint32_t hi, uint32_t lo) { return (uint64_t(hi) << 32) | lo; }

// The host's callbacks, cdecl; outputReady is called from the driver's own thread as hosts do.
void Switch(int32_t index, ASIOBool direct) {
    if ((index != 0 && index != 1) || direct != ASIOTrue) ++g_badArguments;
    int32_t left = -1;
    VelmorCallSlot(g_driver.Table()[kOutputReady], Word(g_driver.self), nullptr, 0, &left);
    if (left != 0) ++g_unbalanced;
    ++g_switches;
}
void __cdecl BufferSwitch(int32_t index, ASIOBool direct) { Switch(index, direct); }
ASIOTime* __cdecl BufferSwitchTimeInfo(ASIOTime* time, int32_t index, ASIOBool direct) {
    const int n = g_switches;
    if (!time || time->timeInfo.sampleRate != 48000.0 || index != n % 2) {
        ++g_badArguments;
    } else if (n < kRecorded) {
        g_positions[n] = Join(time->timeInfo.samplePosition.hi, time->timeInfo.samplePosition.lo);
        g_times[n] = Join(time->timeInfo.systemTime.hi, time->timeInfo.systemTime.lo);
    }
    Switch(index, direct);
    return nullptr;
}
void __cdecl RateChanged(ASIOSampleRate rate) { g_rateChangedTo = rate; }
int32_t __cdecl Message(int32_t selector, int32_t value, void*, double*) {
    if (selector == kAsioSelectorSupported) return value == kAsioSupportsTimeInfo;
    if (selector == kAsioEngineVersion) return 2;
    return selector == kAsioSupportsTimeInfo ? 1 : 0;
}

// Another thread of the host, reading the position through its thiscall slot.
struct Seen {
    uint64_t position, time;
};
Seen g_seen[100000];
size_t g_reads = 0;
std::atomic<bool> g_reading{false};
DWORD WINAPI ReadPositions(void*) {
    while (g_reading && g_reads < sizeof(g_seen) / sizeof(g_seen[0])) {
        ASIOSamples p = {};
        ASIOTimeStamp t = {};
        int32_t left = -1;
        const uint32_t args[2] = {Word(&p), Word(&t)};
        VelmorCallSlot(g_driver.Table()[kGetSamplePosition], Word(g_driver.self), args, 2, &left);
        g_seen[g_reads++] = {Join(p.hi, p.lo), Join(t.hi, t.lo)};
    }
    return 0;
}

class HostConvention : public ::testing::Test {
protected:
    void SetUp() override {
        char name[64];
        snprintf(name, sizeof(name), "conv-%lu", GetCurrentProcessId());
        ASSERT_TRUE(sim::Attach(name));
        sim::ResetDevice();
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", name);
        SetEnvironmentVariableA("VELMOR_DEVICE", "simulated");
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        module = LoadLibraryA(SiblingProgram("VelmorR5R6ASIO.dll").c_str());
        ASSERT_NE(nullptr, module);
    }
    void TearDown() override {
        if (module) FreeLibrary(module);
        CoUninitialize();
        SetEnvironmentVariableA("VELMOR_DEVICE", nullptr);
        SetEnvironmentVariableA("VELMOR_SIM_INSTANCE", nullptr);
    }
    HMODULE module = nullptr;
    RegistrySandbox settings;  // no panel folder: controlPanel starts nothing
};

TEST_F(HostConvention, EveryMethodIsThiscallAndStreams) {
    using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ASSERT_NE(nullptr, getClassObject);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    void* created = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, kClsid, &created));
    factory->Release();
    g_driver.self = created;
    const Object& d = g_driver;

    // IUnknown, stdcall.
    void* asked = nullptr;
    EXPECT_EQ(uint32_t(S_OK), d.Com(kQueryInterface, {Word(&kClsid), Word(&asked)}));
    EXPECT_EQ(created, asked);
    EXPECT_EQ(1u, d.Com(kRelease, {}));
    EXPECT_EQ(2u, d.Com(kAddRef, {}));
    EXPECT_EQ(1u, d.Com(kRelease, {}));

    EXPECT_EQ(ASIOTrue, d.Method(kInit, {0}));
    char text[128] = {};
    d.Method(kGetDriverName, {Word(text)});
    EXPECT_STREQ("VelmorR5R6", text);
    EXPECT_EQ(2, d.Method(kGetDriverVersion, {}));
    d.Method(kGetErrorMessage, {Word(text)});
    int32_t inputs = -1, outputs = -1;
    EXPECT_EQ(ASE_OK, d.Method(kGetChannels, {Word(&inputs), Word(&outputs)}));
    EXPECT_EQ(2, inputs);
    EXPECT_EQ(2, outputs);

    Halves rate = Split(48000.0), odd = Split(12345.0);
    EXPECT_EQ(ASE_OK, d.Method(kCanSampleRate, {rate.lo, rate.hi}));
    EXPECT_EQ(ASE_NotPresent, d.Method(kCanSampleRate, {odd.lo, odd.hi}));
    EXPECT_EQ(ASE_OK, d.Method(kSetSampleRate, {rate.lo, rate.hi}));
    double current = 0;
    EXPECT_EQ(ASE_OK, d.Method(kGetSampleRate, {Word(&current)}));
    EXPECT_EQ(48000.0, current);
    int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    EXPECT_EQ(ASE_OK, d.Method(kGetBufferSize, {Word(&minSize), Word(&maxSize), Word(&preferred), Word(&granularity)}));
    EXPECT_GT(preferred, 0);
    ASIOClockSource clocks[4] = {};
    int32_t clockCount = 4;
    EXPECT_EQ(ASE_OK, d.Method(kGetClockSources, {Word(clocks), Word(&clockCount)}));
    EXPECT_GE(clockCount, 1);
    EXPECT_EQ(ASE_OK, d.Method(kSetClockSource, {0}));
    ASIOChannelInfo info = {};
    info.channel = 1;
    EXPECT_EQ(ASE_OK, d.Method(kGetChannelInfo, {Word(&info)}));
    EXPECT_EQ(1, info.channel);
    EXPECT_EQ(0, std::strncmp("VelmorR5R6_", info.name, 11)) << info.name;
    EXPECT_EQ(ASE_SUCCESS, d.Method(kFuture, {uint32_t(kAsioCanTimeInfo), 0}));
    EXPECT_EQ(ASE_OK, d.Method(kControlPanel, {}));

    // A 20 ms stream on both outputs, switched through the host's cdecl callbacks.
    const int32_t size = 960;
    ASIOBufferInfo buffers[2] = {{ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
    ASIOCallbacks callbacks = {BufferSwitch, RateChanged, Message, BufferSwitchTimeInfo};
    ASSERT_EQ(ASE_OK, d.Method(kCreateBuffers, {Word(buffers), 2, uint32_t(size), Word(&callbacks)}));
    int32_t inputLatency = 0, outputLatency = 0;
    EXPECT_EQ(ASE_OK, d.Method(kGetLatencies, {Word(&inputLatency), Word(&outputLatency)}));
    EXPECT_GE(outputLatency, size);
    // Another thread of the host reads the position all along: each pair it
    // gets must be one switch's, never halves of two (the low half of the
    // time stamp wraps every 4.3 s).
    g_reads = 0;
    g_reading = true;
    HANDLE reader = CreateThread(nullptr, 0, ReadPositions, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, reader);
    EXPECT_EQ(ASE_OK, d.Method(kStart, {}));
    for (int wait = 0; wait < 300 && g_switches < 8; ++wait) Sleep(10);
    g_reading = false;
    WaitForSingleObject(reader, INFINITE);
    CloseHandle(reader);
    ASIOSamples position = {};
    ASIOTimeStamp stamp = {};
    EXPECT_EQ(ASE_OK, d.Method(kGetSamplePosition, {Word(&position), Word(&stamp)}));
    EXPECT_EQ(ASE_OK, d.Method(kStop, {}));
    EXPECT_GE(g_switches.load(), 8);
    EXPECT_EQ(0, g_unbalanced.load());
    EXPECT_EQ(0, g_badArguments.load());
    EXPECT_GE(position.lo, uint32_t(size));
    for (int n = 0; n < 8; ++n) EXPECT_EQ(uint64_t(n) * size, g_positions[n]) << n;
    int torn = 0;
    for (size_t i = 0; i < g_reads; ++i) {
        const uint64_t n = g_seen[i].position / size;
        if (g_seen[i].time != 0 && n < kRecorded && g_times[n] && g_seen[i].time != g_times[n]) ++torn;
    }
    EXPECT_EQ(0, torn) << "of " << g_reads << " reads";
    EXPECT_GT(sim::State()->streams[0].channel[0].frames, 0u);
    EXPECT_EQ(ASE_OK, d.Method(kOutputReady, {}));
    // A rate change with buffers made reaches the host's cdecl callback as a double.
    Halves faster = Split(96000.0);
    EXPECT_EQ(ASE_OK, d.Method(kSetSampleRate, {faster.lo, faster.hi}));
    EXPECT_EQ(96000.0, g_rateChangedTo.load());
    EXPECT_EQ(ASE_InvalidMode, d.Method(kStart, {}));  // the buffers were made for 48000
    EXPECT_EQ(ASE_OK, d.Method(kDisposeBuffers, {}));

    EXPECT_EQ(0u, d.Com(kRelease, {}));
    g_driver.self = nullptr;
}

}  // namespace

#endif
