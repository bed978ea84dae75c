// The IASIO calls as the host makes them: each is served by its *Impl and,
// while the support log is on, written to it with its arguments and result.
// The per-period calls (getSamplePosition, outputReady) are only counted;
// the count goes into the summary at the end of each take.
#include "AsioSample.h"
#include "DriverLog.h"

#include "device/SupportedDevices.h"

#include <cinttypes>
#include <cstdio>

namespace {

int64_t Microseconds(int64_t ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart ? ticks * 1000000 / frequency.QuadPart : 0;
}

}  // namespace

void CAsioSample::LogHost() {
    if (!driverlog::On()) return;
    char image[MAX_PATH] = "?";
    GetModuleFileNameA(nullptr, image, sizeof(image));
    driverlog::Line("host %s (%d-bit), driver %s version %d built %s %s", image, static_cast<int>(sizeof(void*) * 8),
                    kProductName, kDriverVersion, __DATE__, __TIME__);
}

void CAsioSample::LogDevice() {
    if (!driverlog::On()) return;
    driverlog::Line("device %s", m_devicePath);
    const char* model = m_productId == kVelmorProductR5 ? "R5" : m_productId == kVelmorProductR6 ? "R6" : "R5/R6";
    driverlog::Line("device %s %s (VID_%04X PID_%04X), widths%s%s%s, %s", model, m_deviceName, m_vendorId, m_productId,
                    (m_widthMask & 1) ? " 16" : "", (m_widthMask & 2) ? " 24" : "", (m_widthMask & 4) ? " 32" : "",
                    m_hasCapture ? "render and capture" : "render only");
}

void CAsioSample::LogTakeSummary() {
    if (!driverlog::On()) return;
    const DropoutCounts& d = m_dropouts;
    const DropoutCounts& s = m_takeDropouts;
    driverlog::Line("take: %" PRIu64 " periods; dropouts: host late %u, driver late %u, device underrun %u, "
                    "packet failed %u",
                    m_switchCount, d.hostLate - s.hostLate, d.driverLate - s.driverLate,
                    d.deviceUnderrun - s.deviceUnderrun, d.packetFailed - s.packetFailed);
    driverlog::Line("take: longest callback %" PRId64 " us, latest wake-up %" PRId64 " us; getSamplePosition %ld, "
                    "outputReady %ld calls",
                    Microseconds(m_longestCallback), Microseconds(m_latestWake), m_positionCalls, m_outputReadyCalls);
}

ASIOBool CAsioSample::init(void* sysHandle) {
    const ASIOBool result = initImpl(sysHandle);
    driverlog::Line("init() = %s, state %s", result ? "ASIOTrue" : "ASIOFalse", DriverStateWord(m_state));
    return result;
}

void CAsioSample::getDriverName(char* name) {
    getDriverNameImpl(name);
    driverlog::Line("getDriverName() = %s", name ? name : "(null)");
}

int32_t CAsioSample::getDriverVersion() {
    const int32_t version = getDriverVersionImpl();
    driverlog::Line("getDriverVersion() = %d", version);
    return version;
}

void CAsioSample::getErrorMessage(char* string) {
    getErrorMessageImpl(string);
    driverlog::Line("getErrorMessage() = \"%s\"", string ? string : "");
}

ASIOError CAsioSample::start() {
    m_takeDropouts = m_dropouts;
    m_longestCallback = m_latestWake = 0;
    m_positionCalls = m_outputReadyCalls = 0;
    const ASIOError error = startImpl();
    driverlog::Line("start() = %s, state %s", AsioErrorName(error), DriverStateWord(m_state));
    return error;
}

ASIOError CAsioSample::stop() {
    const bool running = m_state == kDriverRunning;
    const ASIOError error = stopImpl();
    driverlog::Line("stop() = %s, state %s", AsioErrorName(error), DriverStateWord(m_state));
    if (running && !OnStreamThread()) LogTakeSummary();
    return error;
}

ASIOError CAsioSample::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    const ASIOError error = getChannelsImpl(numInputChannels, numOutputChannels);
    driverlog::Line("getChannels() = %s: %d in, %d out", AsioErrorName(error), numInputChannels ? *numInputChannels : -1,
                    numOutputChannels ? *numOutputChannels : -1);
    return error;
}

ASIOError CAsioSample::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    const ASIOError error = getLatenciesImpl(inputLatency, outputLatency);
    driverlog::Line("getLatencies() = %s: in %d, out %d samples", AsioErrorName(error), inputLatency ? *inputLatency : -1,
                    outputLatency ? *outputLatency : -1);
    return error;
}

ASIOError CAsioSample::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize, int32_t* granularity) {
    const ASIOError error = getBufferSizeImpl(minSize, maxSize, preferredSize, granularity);
    driverlog::Line("getBufferSize() = %s: min %d, max %d, preferred %d, granularity %d", AsioErrorName(error),
                    minSize ? *minSize : -1, maxSize ? *maxSize : -1, preferredSize ? *preferredSize : -1,
                    granularity ? *granularity : -1);
    return error;
}

ASIOError CAsioSample::canSampleRate(ASIOSampleRate sampleRate) {
    const ASIOError error = canSampleRateImpl(sampleRate);
    driverlog::Line("canSampleRate(%.0f) = %s", sampleRate, AsioErrorName(error));
    return error;
}

ASIOError CAsioSample::getSampleRate(ASIOSampleRate* sampleRate) {
    const ASIOError error = getSampleRateImpl(sampleRate);
    driverlog::Line("getSampleRate() = %s: %.0f", AsioErrorName(error), sampleRate ? *sampleRate : -1.0);
    return error;
}

ASIOError CAsioSample::setSampleRate(ASIOSampleRate sampleRate) {
    const int32_t before = m_hostRate;
    const ASIOError error = setSampleRateImpl(sampleRate);
    driverlog::Line("setSampleRate(%.0f) = %s (was %d), state %s", sampleRate, AsioErrorName(error), before,
                    DriverStateWord(m_state));
    return error;
}

ASIOError CAsioSample::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
    const ASIOError error = getClockSourcesImpl(clocks, numSources);
    driverlog::Line("getClockSources() = %s: %d", AsioErrorName(error), numSources ? *numSources : -1);
    return error;
}

ASIOError CAsioSample::setClockSource(int32_t reference) {
    const ASIOError error = setClockSourceImpl(reference);
    driverlog::Line("setClockSource(%d) = %s", reference, AsioErrorName(error));
    return error;
}

ASIOError CAsioSample::getChannelInfo(ASIOChannelInfo* info) {
    const ASIOError error = getChannelInfoImpl(info);
    if (info) {
        driverlog::Line("getChannelInfo(%s %d) = %s: type %d, \"%s\"", info->isInput ? "input" : "output", info->channel,
                        AsioErrorName(error), info->type, info->name);
    } else {
        driverlog::Line("getChannelInfo(null) = %s", AsioErrorName(error));
    }
    return error;
}

ASIOError CAsioSample::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                                     ASIOCallbacks* callbacks) {
    const ASIOError error = createBuffersImpl(bufferInfos, numChannels, bufferSize, callbacks);
    driverlog::Line("createBuffers(%d channels, %d samples) = %s, state %s", numChannels, bufferSize, AsioErrorName(error),
                    DriverStateWord(m_state));
    if (error == ASE_OK && driverlog::On()) {
        driverlog::Line("prepared: host rate %d, stream rate %d, %s, %d-bit, %d samples a period", m_hostRate,
                        m_streamRate, m_preparedDsd ? "DSD" : "PCM", m_preparedDsd ? 1 : m_sampleWidth, m_bufferSize);
    }
    return error;
}

ASIOError CAsioSample::disposeBuffers() {
    const ASIOError error = disposeBuffersImpl();
    driverlog::Line("disposeBuffers() = %s, state %s", AsioErrorName(error), DriverStateWord(m_state));
    return error;
}

ASIOError CAsioSample::controlPanel() {
    const ASIOError error = controlPanelImpl();
    driverlog::Line("controlPanel() = %s", AsioErrorName(error));
    return error;
}

ASIOError CAsioSample::future(int32_t selector, void* opt) {
    const ASIOError error = futureImpl(selector, opt);
    driverlog::Line("future(%d) = %s", selector, AsioErrorName(error));
    return error;
}
