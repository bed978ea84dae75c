// The ASIO driver interface as hosts call it, declared from the published
// description: IUnknown plus 21 operations in the published slot order,
// 32-bit "long", 64-bit values as high/low halves, and the 4-byte structure
// packing that hosts built with the usual Windows compiler use.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstddef>
#include <cstdint>

typedef int32_t ASIOError;
typedef int32_t ASIOBool;
typedef int32_t ASIOSampleType;
typedef double ASIOSampleRate;

constexpr ASIOBool ASIOFalse = 0;
constexpr ASIOBool ASIOTrue = 1;

enum : ASIOError {
    ASE_OK = 0,
    ASE_SUCCESS = 0x3F4847A0,
    ASE_NotPresent = -1000,
    ASE_HWMalfunction = -999,
    ASE_InvalidParameter = -998,
    ASE_InvalidMode = -997,
    ASE_SPNotAdvancing = -996,
    ASE_NoClock = -995,
    ASE_NoMemory = -994,
};

// The result's name as hosts and logs show it.
inline const char* AsioErrorName(ASIOError error) {
    switch (error) {
    case ASE_OK: return "ASE_OK";
    case ASE_SUCCESS: return "ASE_SUCCESS";
    case ASE_NotPresent: return "ASE_NotPresent";
    case ASE_HWMalfunction: return "ASE_HWMalfunction";
    case ASE_InvalidParameter: return "ASE_InvalidParameter";
    case ASE_InvalidMode: return "ASE_InvalidMode";
    case ASE_SPNotAdvancing: return "ASE_SPNotAdvancing";
    case ASE_NoClock: return "ASE_NoClock";
    case ASE_NoMemory: return "ASE_NoMemory";
    default: return "?";
    }
}

enum : ASIOSampleType {
    ASIOSTInt16LSB = 16,
    ASIOSTInt24LSB = 17,
    ASIOSTInt32LSB = 18,
    ASIOSTFloat32LSB = 19,
    ASIOSTDSDInt8LSB1 = 32,
    ASIOSTDSDInt8MSB1 = 33,
};

// asioMessage selectors.
enum : int32_t {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioMMCCommand = 9,
    kAsioSupportsInputMonitor = 10,
    kAsioSupportsInputGain = 11,
    kAsioSupportsInputMeter = 12,
    kAsioSupportsOutputGain = 13,
    kAsioSupportsOutputMeter = 14,
    kAsioOverload = 15,
};

// future() selectors.
enum : int32_t {
    kAsioEnableTimeCodeRead = 1,
    kAsioDisableTimeCodeRead = 2,
    kAsioSetInputMonitor = 3,
    kAsioTransport = 4,
    kAsioSetInputGain = 5,
    kAsioGetInputMeter = 6,
    kAsioSetOutputGain = 7,
    kAsioGetOutputMeter = 8,
    kAsioCanInputMonitor = 9,
    kAsioCanTimeInfo = 10,
    kAsioCanTimeCode = 11,
    kAsioCanTransport = 12,
    kAsioCanInputGain = 13,
    kAsioCanInputMeter = 14,
    kAsioCanOutputGain = 15,
    kAsioCanOutputMeter = 16,
    kAsioSetIoFormat = 0x23111961,
    kAsioGetIoFormat = 0x23111983,
    kAsioCanDoIoFormat = 0x23112004,
    kAsioCanReportOverload = 0x24042012,
};

// ASIOTime flags.
enum : uint32_t {
    kSystemTimeValid = 1,
    kSamplePositionValid = 2,
    kSampleRateValid = 4,
    kSpeedValid = 8,
    kSampleRateChanged = 16,
    kClockSourceChanged = 32,
};
enum : uint32_t {
    kTcValid = 1,
    kTcRunning = 2,
    kTcReverse = 4,
    kTcOnspeed = 8,
    kTcStill = 16,
};

enum : int32_t {
    kASIOFormatInvalid = -1,
    kASIOPCMFormat = 0,
    kASIODSDFormat = 1,
};

// On 32-bit x86, hosts built with the platform's main compiler call IASIO's
// methods as thiscall (the object in ECX, the method pops its own arguments)
// and the callbacks they hand over as cdecl; IUnknown's are stdcall as in all
// of COM. Spelled out rather than left to a compiler's default for member
// functions. x86-64 has one convention, so the names expand to nothing there.
#if defined(_M_IX86) || defined(__i386__)
#define ASIOMETHODCALLTYPE __thiscall
#define ASIOCALLBACKTYPE __cdecl
#else
#define ASIOMETHODCALLTYPE
#define ASIOCALLBACKTYPE
#endif

#pragma pack(push, 4)

struct ASIOSamples {
    uint32_t hi;
    uint32_t lo;
};

struct ASIOTimeStamp {
    uint32_t hi;
    uint32_t lo;
};

struct ASIOClockSource {
    int32_t index;
    int32_t associatedChannel;
    int32_t associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};

struct ASIOChannelInfo {
    int32_t channel;
    ASIOBool isInput;
    ASIOBool isActive;
    int32_t channelGroup;
    ASIOSampleType type;
    char name[32];
};

struct ASIOBufferInfo {
    ASIOBool isInput;
    int32_t channelNum;
    void* buffers[2];
};

struct AsioTimeInfo {
    double speed;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    ASIOSampleRate sampleRate;
    uint32_t flags;
    char reserved[12];
};

struct ASIOTimeCode {
    double speed;
    ASIOSamples timeCodeSamples;
    uint32_t flags;
    char future[64];
};

struct ASIOTime {
    int32_t reserved[4];
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};

struct ASIOCallbacks {
    void(ASIOCALLBACKTYPE* bufferSwitch)(int32_t doubleBufferIndex, ASIOBool directProcess);
    void(ASIOCALLBACKTYPE* sampleRateDidChange)(ASIOSampleRate sRate);
    int32_t(ASIOCALLBACKTYPE* asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
    ASIOTime*(ASIOCALLBACKTYPE* bufferSwitchTimeInfo)(ASIOTime* params, int32_t doubleBufferIndex,
                                                      ASIOBool directProcess);
};

struct ASIOIoFormat {
    int32_t FormatType;
    char future[512 - sizeof(int32_t)];
};

#pragma pack(pop)

// Layouts hosts rely on.
static_assert(sizeof(ASIOClockSource) == 48, "ASIOClockSource");
static_assert(sizeof(ASIOChannelInfo) == 52, "ASIOChannelInfo");
static_assert(offsetof(ASIOBufferInfo, buffers) == 8, "ASIOBufferInfo");
static_assert(sizeof(AsioTimeInfo) == 48, "AsioTimeInfo");
static_assert(sizeof(ASIOTimeCode) == 84, "ASIOTimeCode packs to 4");
static_assert(offsetof(ASIOTime, timeCode) == 64 && sizeof(ASIOTime) == 148, "ASIOTime");
static_assert(sizeof(ASIOIoFormat) == 512, "ASIOIoFormat");

struct IASIO : public IUnknown {
    virtual ASIOBool ASIOMETHODCALLTYPE init(void* sysHandle) = 0;
    virtual void ASIOMETHODCALLTYPE getDriverName(char* name) = 0;
    virtual int32_t ASIOMETHODCALLTYPE getDriverVersion() = 0;
    virtual void ASIOMETHODCALLTYPE getErrorMessage(char* string) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE start() = 0;
    virtual ASIOError ASIOMETHODCALLTYPE stop() = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getLatencies(int32_t* inputLatency, int32_t* outputLatency) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                    int32_t* granularity) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE canSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getSampleRate(ASIOSampleRate* sampleRate) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE setSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getClockSources(ASIOClockSource* clocks, int32_t* numSources) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE setClockSource(int32_t reference) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE getChannelInfo(ASIOChannelInfo* info) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                    ASIOCallbacks* callbacks) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE disposeBuffers() = 0;
    virtual ASIOError ASIOMETHODCALLTYPE controlPanel() = 0;
    virtual ASIOError ASIOMETHODCALLTYPE future(int32_t selector, void* opt) = 0;
    virtual ASIOError ASIOMETHODCALLTYPE outputReady() = 0;
};
