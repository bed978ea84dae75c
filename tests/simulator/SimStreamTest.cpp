// Pins of the virtual device: creation, states, packets in real time, the
// render check against the test pattern, capture data, and what is refused.
#include "SimHarness.h"

#include "device/HidChannel.h"
#include "device/SupportedDevices.h"
#include "simulator/TestPattern.h"

#include <memory>
#include <utility>

namespace simtest {
namespace {

using SimStream = SimTest;
using SimStreamFaults = SimTest;

constexpr LONG kStatusCancelled = static_cast<LONG>(0xC0000120);
constexpr ULONG_PTR kStatusPending = 0x103;

std::vector<std::unique_ptr<Packet>> MakePackets(int count, size_t bytes) {
    std::vector<std::unique_ptr<Packet>> packets;
    for (int i = 0; i < count; ++i) packets.push_back(std::make_unique<Packet>(bytes));
    return packets;
}

// Opens pin 0 for a format and brings it to PAUSE, reset like the driver does.
HANDLE OpenRender(HANDLE filter, const PinFormat& format) {
    HANDLE pin = nullptr;
    EXPECT_EQ(DWORD(0), CreatePin(filter, 0, format, &pin));
    EXPECT_EQ(DWORD(0), Reset(pin, KSRESET_BEGIN));
    EXPECT_EQ(DWORD(0), Reset(pin, KSRESET_END));
    StepTo(pin, KSSTATE_STOP, KSSTATE_PAUSE);
    return pin;
}

TEST_F(SimStream, EightRenderPacketsCompleteInOrderAtThePacketRateAndPassTheCheck) {
    HANDLE filter = OpenFilter();
    PinFormat format;  // 48000 Hz, 24 bits, 2 channels, extensible
    HANDLE pin = OpenRender(filter, format);
    const uint32_t frames = 480;  // 10 ms
    auto packets = MakePackets(8, frames * 6);
    for (int i = 0; i < 8; ++i) {
        FillPattern(packets[i]->data, uint64_t(i) * frames, frames, 2, 24);
        ASSERT_EQ(DWORD(ERROR_IO_PENDING), packets[i]->Queue(pin, true));
    }
    EXPECT_FALSE(packets[0]->Wait(30));  // paused: the device plays nothing
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    ASSERT_EQ(DWORD(0), SetState(pin, KSSTATE_RUN));
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(packets[i]->Wait(5000)) << "packet " << i;
        EXPECT_EQ(0, static_cast<LONG>(packets[i]->overlapped.Internal));
        EXPECT_EQ(frames * 6, packets[i]->overlapped.InternalHigh);
        // A late waiter may find later packets done too, but never one done before an earlier one.
        for (int j = i + 2; j < 8; ++j) {
            if (packets[j]->overlapped.Internal == 0) {
                EXPECT_EQ(0, static_cast<LONG>(packets[j - 1]->overlapped.Internal)) << "out of order at " << j;
            }
        }
    }
    QueryPerformanceCounter(&end);
    double ms = (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
    EXPECT_GE(ms, 79.0);  // the device's clock, not the queue, sets the pace

    const sim::Stream& stream = state->streams[0];
    EXPECT_EQ(48000u, stream.rate);
    EXPECT_EQ(24u, stream.bits);
    EXPECT_EQ(8u, stream.completed);
    EXPECT_EQ(1u, stream.underruns);  // the queue ran dry after the eighth
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(8u * frames, stream.channel[c].frames);
        EXPECT_EQ(0u, stream.channel[c].breaks);
        EXPECT_EQ(1u, stream.channel[c].locked);
    }
    // How long it stayed dry is counted when the next packet ends it; a stop ends none.
    EXPECT_EQ(0u, stream.dryMicroseconds);
    Sleep(30);
    Packet ninth(frames * 6);
    FillPattern(ninth.data, 8ull * frames, frames, 2, 24);
    ASSERT_EQ(DWORD(ERROR_IO_PENDING), ninth.Queue(pin, true));
    EXPECT_GE(stream.dryMicroseconds, 30000u);
    ASSERT_TRUE(ninth.Wait(5000));
    // A packet into the dry device wakes its clock at once: without that wake
    // the clock, idle, would look again only after 50 ms.
    Packet tenth(48 * 6);  // 1 ms
    FillPattern(tenth.data, 9ull * frames, 48, 2, 24);
    ASSERT_EQ(DWORD(ERROR_IO_PENDING), tenth.Queue(pin, true));
    const bool prompt = tenth.Wait(35);
    EXPECT_TRUE(prompt) << "a 1 ms packet into the dry device took over 35 ms";
    if (!prompt) {
        ASSERT_TRUE(tenth.Wait(5000));
    }
    const uint64_t dry = stream.dryMicroseconds;
    StepTo(pin, KSSTATE_RUN, KSSTATE_STOP);
    EXPECT_EQ(dry, stream.dryMicroseconds);
    EXPECT_EQ(0u, stream.channel[0].breaks);
    EXPECT_TRUE(Api().CloseHandle(pin));
    EXPECT_EQ(0u, stream.open);
    Api().CloseHandle(filter);
}

TEST_F(SimStream, PinsSetRunningWithinAFrameCompleteTogether) {
    // The device's one clock: a driver sets its capture and render pins
    // running one after the other, and their packets still end together, so
    // its streaming thread wakes once a period, not twice.
    HANDLE filter = OpenFilter();
    PinFormat format;
    format.rate = 44100;
    format.bits = 16;
    struct Side {
        HANDLE pin = nullptr;
        bool write = true;
        std::vector<std::unique_ptr<Packet>> packets;
    } sides[2];
    sides[1].write = false;
    ASSERT_EQ(DWORD(0), CreatePin(filter, 0, format, &sides[0].pin));
    ASSERT_EQ(DWORD(0), CreatePin(filter, 2, format, &sides[1].pin));
    // One pass of the clock delivers in handle order: with the lower handle
    // started second, the first-started pin's packet seen done means the
    // other's was delivered before it.
    if (sides[0].pin < sides[1].pin) std::swap(sides[0], sides[1]);
    for (Side& side : sides) {
        StepTo(side.pin, KSSTATE_STOP, KSSTATE_PAUSE);
        side.packets = MakePackets(2, 441 * 4);  // 10 ms each
        for (auto& packet : side.packets) ASSERT_EQ(DWORD(ERROR_IO_PENDING), packet->Queue(side.pin, side.write));
    }
    LARGE_INTEGER frequency, started, now;
    QueryPerformanceFrequency(&frequency);
    auto since = [&] {
        QueryPerformanceCounter(&now);
        return (now.QuadPart - started.QuadPart) * 1000.0 / frequency.QuadPart;
    };
    QueryPerformanceCounter(&started);
    ASSERT_EQ(DWORD(0), SetState(sides[0].pin, KSSTATE_RUN));
    while (since() < 0.5) YieldProcessor();  // half a frame apart
    ASSERT_EQ(DWORD(0), SetState(sides[1].pin, KSSTATE_RUN));
    const double apart = since();
    for (int i = 0; i < 2; ++i) {
        // Watched, not waited for: a waiter woken late would find both done anyway.
        const OVERLAPPED& first = sides[0].packets[i]->overlapped;
        while (first.Internal == kStatusPending && since() < 5000) YieldProcessor();
        ASSERT_TRUE(sides[0].packets[i]->Wait(5000));
        // A thread preempted between the two calls started them frames apart.
        if (apart < 0.9) {
            EXPECT_EQ(0, static_cast<LONG>(sides[1].packets[i]->overlapped.Internal))
                << "packet " << i << " of pins started " << apart << " ms apart";
        }
        ASSERT_TRUE(sides[1].packets[i]->Wait(5000));
    }
    for (Side& side : sides) {
        StepTo(side.pin, KSSTATE_RUN, KSSTATE_STOP);
        Api().CloseHandle(side.pin);
    }
    Api().CloseHandle(filter);
}

TEST_F(SimStream, EveryWidthIsCheckedAfterLeadingSilenceAndABrokenSampleCountsOnItsChannel) {
    state->config.burst = 1;
    HANDLE filter = OpenFilter();
    for (WORD bits : {16, 24, 32}) {
        for (bool extensible : {false, true}) {
            if (bits > 16 && !extensible) continue;  // refused, below
            PinFormat format;
            format.rate = 44100;
            format.bits = bits;
            format.extensible = extensible;
            HANDLE pin = OpenRender(filter, format);
            ASSERT_EQ(DWORD(0), SetState(pin, KSSTATE_RUN));
            const uint32_t frames = 441;
            const size_t bytes = frames * 2 * bits / 8;
            Packet silence(bytes);
            ASSERT_EQ(DWORD(ERROR_IO_PENDING), silence.Queue(pin, true));
            ASSERT_TRUE(silence.Wait(2000));
            for (int i = 0; i < 3; ++i) {
                Packet packet(bytes);
                FillPattern(packet.data, 1000 + uint64_t(i) * frames, frames, 2, bits);
                if (i == 2) packet.data[bits / 8] ^= 0x40;  // first frame, right channel
                ASSERT_EQ(DWORD(ERROR_IO_PENDING), packet.Queue(pin, true));
                ASSERT_TRUE(packet.Wait(2000));
            }
            const sim::Stream& stream = state->streams[0];
            EXPECT_EQ(4u * frames, stream.channel[0].frames) << bits;
            EXPECT_EQ(0u, stream.channel[0].breaks) << bits;
            EXPECT_GE(stream.channel[1].breaks, 1u) << bits;
            EXPECT_LE(stream.channel[1].breaks, 2u) << bits;
            StepTo(pin, KSSTATE_RUN, KSSTATE_STOP);
            Api().CloseHandle(pin);
        }
    }
    Api().CloseHandle(filter);
}

// Sends one DSD mode report through the device's HID interface, as the driver
// does, and waits for the device to act on it: it does so a little after the write.
void SendDsdReport(bool on) {
    sim::SharedState* device = sim::State();
    const uint32_t before = device->dsdMode;
    ASSERT_TRUE(SendHidReport(kVelmorVendorId, kVelmorProductR6, 0xF5, 0x21, 0x32, on ? 0x2E : 0x08));
    EXPECT_EQ(before, device->dsdMode) << "acted on inside the write";
    for (int i = 0; i < 1000 && device->reportsActedOn != device->reportCount; ++i) {
        Sleep(1);
        sim::ActOnDueReports(*device);
    }
    ASSERT_EQ(on ? 64u : 0u, device->dsdMode);
}

TEST_F(SimStream, DsdIsReadOnlyFromTheModeReportOn) {
    state->config.burst = 1;
    HANDLE filter = OpenFilter();
    PinFormat format;
    format.rate = 88200;
    format.bits = 32;
    auto play = [&](HANDLE pin, uint64_t first) {
        Packet packet(882 * 8);
        FillPattern(packet.data, first, 882, 2, 32);
        ASSERT_EQ(DWORD(ERROR_IO_PENDING), packet.Queue(pin, true));
        ASSERT_TRUE(packet.Wait(2000));
    };

    // The report before the stream: every packet is DSD and the pattern holds.
    SendDsdReport(true);
    HANDLE pin = OpenRender(filter, format);
    ASSERT_EQ(DWORD(0), SetState(pin, KSSTATE_RUN));
    play(pin, 0);
    play(pin, 882);
    EXPECT_EQ(64u, state->streams[0].dsd);
    EXPECT_EQ(0u, state->streams[0].channel[0].breaks + state->streams[0].channel[1].breaks);
    EXPECT_EQ(2u * 882, state->streams[0].channel[1].frames);
    Api().CloseHandle(pin);
    SendDsdReport(false);

    // The report after the stream began: what was read as PCM does not
    // continue as DSD, whatever the data.
    pin = OpenRender(filter, format);
    ASSERT_EQ(DWORD(0), SetState(pin, KSSTATE_RUN));
    play(pin, 0);
    EXPECT_EQ(0u, state->streams[0].dsd);
    SendDsdReport(true);
    play(pin, 882);
    EXPECT_EQ(64u, state->streams[0].dsd);
    EXPECT_EQ(1u, state->streams[0].channel[0].breaks);
    EXPECT_EQ(1u, state->streams[0].channel[1].breaks);

    // Another mode's carrier is plain PCM again.
    state->dsdMode = 128;
    play(pin, 2 * 882);
    EXPECT_EQ(0u, state->streams[0].dsd);
    Api().CloseHandle(pin);
    Api().CloseHandle(filter);
}

TEST_F(SimStream, CaptureDeliversTheTestPatternWithDataUsedFilled) {
    state->config.burst = 1;
    HANDLE filter = OpenFilter();
    PinFormat format;
    format.rate = 44100;
    format.bits = 16;
    HANDLE pin = nullptr;
    ASSERT_EQ(DWORD(0), CreatePin(filter, 2, format, &pin));  // the record pin
    StepTo(pin, KSSTATE_STOP, KSSTATE_RUN);
    // Eight reads in flight, as the driver keeps them; a ragged extent gets whole frames only.
    auto packets = MakePackets(8, 441 * 4 + 2);
    for (auto& p : packets) ASSERT_EQ(DWORD(ERROR_IO_PENDING), p->Queue(pin, false));
    TestPattern::Checker checkers[2];
    for (auto& packet : packets) {
        ASSERT_TRUE(packet->Wait(2000));
        ASSERT_EQ(441u * 4, packet->header.DataUsed);
        EXPECT_EQ(441u * 4, packet->overlapped.InternalHigh);
        for (uint32_t f = 0; f < 441; ++f) {
            for (unsigned c = 0; c < 2; ++c) {
                checkers[c].Check(c, TestPattern::Load(&packet->data[f * 4 + c * 2], 2), 16);
            }
        }
    }
    EXPECT_TRUE(checkers[0].locked && checkers[1].locked);
    EXPECT_EQ(0u, checkers[0].breaks + checkers[1].breaks);
    Packet write(64);
    EXPECT_EQ(DWORD(ERROR_INVALID_FUNCTION), write.Queue(pin, true));  // capture pins only read
    Api().CloseHandle(pin);
    Api().CloseHandle(filter);
}

TEST_F(SimStreamFaults, BadFormatsAndConnectionsAreRefusedWithPlatformErrors) {
    HANDLE filter = OpenFilter();
    HANDLE pin = nullptr;
    auto refused = [&](ULONG pinId, PinFormat f) { return CreatePin(filter, pinId, f, &pin); };
    PinFormat f;
    f.rate = 50000;
    EXPECT_EQ(DWORD(ERROR_NO_MATCH), refused(0, f));
    f = PinFormat();
    f.bits = 20;
    EXPECT_EQ(DWORD(ERROR_NO_MATCH), refused(0, f));
    f = PinFormat();
    f.channels = 3;
    EXPECT_EQ(DWORD(ERROR_NO_MATCH), refused(0, f));
    f = PinFormat();
    f.validBits = 32;
    EXPECT_EQ(DWORD(ERROR_NO_MATCH), refused(0, f));
    f = PinFormat();
    f.extensible = false;  // the plain form is for stereo 16-bit only
    EXPECT_EQ(DWORD(ERROR_NO_MATCH), refused(0, f));
    f.channelMask = 0x7;   // three speakers for two channels
    f.extensible = true;
    EXPECT_EQ(DWORD(ERROR_NO_MATCH), refused(0, f));
    EXPECT_EQ(DWORD(ERROR_NOT_SUPPORTED), refused(1, PinFormat()));       // a bridge pin
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), refused(5, PinFormat()));   // no such pin

    std::vector<BYTE> connect = ConnectBuffer(0, PinFormat());
    auto* c = reinterpret_cast<KSPIN_CONNECT*>(connect.data());
    auto* wave = reinterpret_cast<WAVEFORMATEX*>(connect.data() + sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT));
    wave->nBlockAlign = 4;
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), Api().KsCreatePin(filter, c, GENERIC_WRITE, &pin));
    connect = ConnectBuffer(0, PinFormat());
    c = reinterpret_cast<KSPIN_CONNECT*>(connect.data());
    c->Interface.Id = KSINTERFACE_STANDARD_LOOPED_STREAMING;
    EXPECT_EQ(DWORD(ERROR_NO_MATCH), Api().KsCreatePin(filter, c, GENERIC_WRITE, &pin));
    connect = ConnectBuffer(0, PinFormat());
    c = reinterpret_cast<KSPIN_CONNECT*>(connect.data());
    reinterpret_cast<KSDATAFORMAT*>(c + 1)->FormatSize = 70;
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), Api().KsCreatePin(filter, c, GENERIC_WRITE, &pin));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), Api().KsCreatePin(filter, nullptr, GENERIC_WRITE, &pin));

    state->config.maxBits = 24;
    state->config.renderChannels = 4;
    state->config.refuseChannelMask = (1u << 2) | (1u << 3);
    f = PinFormat();
    f.bits = 32;
    EXPECT_EQ(DWORD(ERROR_NO_MATCH), refused(0, f));
    f = PinFormat();
    EXPECT_EQ(DWORD(ERROR_NO_MATCH), refused(0, f));
    f.channels = 4;
    f.extensible = false;
    EXPECT_EQ(DWORD(ERROR_NO_MATCH), refused(0, f));
    f.extensible = true;
    f.channelMask = 0;     // direct out: no speaker positions at all
    ASSERT_EQ(DWORD(0), refused(0, f));
    HANDLE second = nullptr;
    EXPECT_EQ(DWORD(ERROR_NO_SYSTEM_RESOURCES), CreatePin(filter, 0, f, &second));  // one instance per pin
    ULONG instances[2] = {};
    PinProperty(filter, 0, KSPROPERTY_PIN_CINSTANCES, instances, sizeof(instances));
    EXPECT_EQ(1u, instances[1]);
    Api().CloseHandle(pin);
    EXPECT_EQ(DWORD(0), CreatePin(filter, 0, f, &second));
    Api().CloseHandle(second);
    Api().CloseHandle(filter);
}

TEST_F(SimStreamFaults, StateStepsAndStreamRequestsAreValidated) {
    HANDLE filter = OpenFilter();
    HANDLE pin = nullptr;
    ASSERT_EQ(DWORD(0), CreatePin(filter, 0, PinFormat(), &pin));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), SetState(pin, static_cast<KSSTATE>(7)));
    EXPECT_EQ(DWORD(ERROR_SUCCESS), SetState(pin, KSSTATE_STOP));       // staying put is fine
    Packet packet(480 * 6);
    EXPECT_EQ(DWORD(ERROR_BAD_COMMAND), packet.Queue(pin, true));       // stopped
    StepTo(pin, KSSTATE_STOP, KSSTATE_PAUSE);
    EXPECT_EQ(DWORD(ERROR_INVALID_FUNCTION), packet.Queue(pin, false)); // render pins only write
    DWORD got = 0;
    packet.header.DataUsed = 480 * 6 - 3;  // half a frame short: refused and counted
    EXPECT_FALSE(Api().DeviceIoControl(pin, IOCTL_KS_WRITE_STREAM, nullptr, 0, &packet.header, sizeof(packet.header),
                                       &got, &packet.overlapped));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(1u, state->streams[0].partialPackets);
    EXPECT_EQ(0u, state->streams[0].queued);
    packet.header.Size = sizeof(KSSTREAM_HEADER) + 8;  // one header, but Size says otherwise
    EXPECT_FALSE(Api().DeviceIoControl(pin, IOCTL_KS_WRITE_STREAM, nullptr, 0, &packet.header, sizeof(packet.header),
                                       &got, &packet.overlapped));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    packet.header.Size = sizeof(KSSTREAM_HEADER);
    EXPECT_FALSE(Api().DeviceIoControl(pin, IOCTL_KS_WRITE_STREAM, nullptr, 0, &packet.header, 8, &got,
                                       &packet.overlapped));
    EXPECT_EQ(DWORD(ERROR_INVALID_USER_BUFFER), GetLastError());
    EXPECT_FALSE(Api().DeviceIoControl(pin, IOCTL_KS_WRITE_STREAM, nullptr, 0, &packet.header, sizeof(packet.header),
                                       &got, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    ULONG reset = 5;
    EXPECT_FALSE(Api().DeviceIoControl(pin, IOCTL_KS_RESET_STATE, &reset, 4, nullptr, 0, &got, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());

    // Queued packets end cancelled at reset, at stop and at close, each signalled.
    auto packets = MakePackets(3, 480 * 6);
    ASSERT_EQ(DWORD(ERROR_IO_PENDING), packets[0]->Queue(pin, true));
    EXPECT_EQ(DWORD(0), Reset(pin, KSRESET_BEGIN));
    EXPECT_TRUE(packets[0]->Wait(0));
    EXPECT_EQ(kStatusCancelled, static_cast<LONG>(packets[0]->overlapped.Internal));
    EXPECT_EQ(DWORD(ERROR_NOT_READY), packets[1]->Queue(pin, true));   // while flushing
    EXPECT_EQ(DWORD(0), Reset(pin, KSRESET_END));
    ASSERT_EQ(DWORD(ERROR_IO_PENDING), packets[1]->Queue(pin, true));
    StepTo(pin, KSSTATE_PAUSE, KSSTATE_STOP);
    EXPECT_TRUE(packets[1]->Wait(0));
    EXPECT_EQ(kStatusCancelled, static_cast<LONG>(packets[1]->overlapped.Internal));
    StepTo(pin, KSSTATE_STOP, KSSTATE_PAUSE);
    ASSERT_EQ(DWORD(ERROR_IO_PENDING), packets[2]->Queue(pin, true));
    Api().CloseHandle(pin);
    EXPECT_TRUE(packets[2]->Wait(0));
    Api().CloseHandle(filter);
}

TEST_F(SimStreamFaults, StateJumpsPassThroughTheStatesBetweenAsOnThePlatform) {
    HANDLE filter = OpenFilter();
    HANDLE pin = nullptr;
    ASSERT_EQ(DWORD(0), CreatePin(filter, 0, PinFormat(), &pin));
    ASSERT_EQ(DWORD(0), SetState(pin, KSSTATE_RUN));  // STOP to RUN in one request
    EXPECT_EQ(ULONG(KSSTATE_RUN), state->streams[0].state);
    Packet packet(48000 * 6);  // one second: still playing at the jump down
    ASSERT_EQ(DWORD(ERROR_IO_PENDING), packet.Queue(pin, true));
    ASSERT_EQ(DWORD(0), SetState(pin, KSSTATE_STOP));  // RUN to STOP
    EXPECT_TRUE(packet.Wait(0)) << "stopping ended the queued packet";
    EXPECT_EQ(kStatusCancelled, static_cast<LONG>(packet.overlapped.Internal));
    EXPECT_EQ(ULONG(KSSTATE_STOP), state->streams[0].state);
    // Refused at once: the request keeps the pending mark it got on entry, and nothing signals.
    EXPECT_EQ(DWORD(ERROR_BAD_COMMAND), packet.Queue(pin, true));
    EXPECT_EQ(0x103, static_cast<LONG>(packet.overlapped.Internal));
    EXPECT_FALSE(packet.Wait(0));
    Api().CloseHandle(pin);
    Api().CloseHandle(filter);
}

TEST_F(SimStreamFaults, RemovalEndsPendingPacketsAndKillsEveryHandle) {
    std::string path = InterfacePath(sim::kCategoryAudio);
    HANDLE filter = OpenFilter();
    HANDLE pin = OpenRender(filter, PinFormat());
    ASSERT_EQ(DWORD(0), SetState(pin, KSSTATE_RUN));
    auto packets = MakePackets(2, 48000 * 6);  // one second each
    for (auto& p : packets) ASSERT_EQ(DWORD(ERROR_IO_PENDING), p->Queue(pin, true));
    sim::Unplug();
    for (auto& p : packets) {
        ASSERT_TRUE(p->Wait(2000));
        EXPECT_EQ(static_cast<LONG>(0xC000009D), static_cast<LONG>(p->overlapped.Internal));
    }
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), packets[0]->Queue(pin, true));
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), SetState(pin, KSSTATE_PAUSE));
    HANDLE another = nullptr;
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), CreatePin(filter, 2, PinFormat(), &another));
    EXPECT_EQ(INVALID_HANDLE_VALUE, Api().CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_TRUE(Api().CloseHandle(pin));     // closing a dead handle still works
    EXPECT_TRUE(Api().CloseHandle(filter));
    sim::Plug();
    filter = OpenFilter();
    EXPECT_EQ(DWORD(0), CreatePin(filter, 0, PinFormat(), &another));  // the instance came free
    Api().CloseHandle(another);
    Api().CloseHandle(filter);
}

TEST_F(SimStreamFaults, StalledCompletionsHoldPacketsUntilTheFaultIsCleared) {
    state->config.stallCompletions = 1;
    HANDLE filter = OpenFilter();
    HANDLE pin = OpenRender(filter, PinFormat());
    ASSERT_EQ(DWORD(0), SetState(pin, KSSTATE_RUN));
    Packet packet(48 * 6);  // 1 ms
    ASSERT_EQ(DWORD(ERROR_IO_PENDING), packet.Queue(pin, true));
    EXPECT_FALSE(packet.Wait(200));
    state->config.stallCompletions = 0;
    EXPECT_TRUE(packet.Wait(2000));
    Api().CloseHandle(pin);
    Api().CloseHandle(filter);
}

}  // namespace
}  // namespace simtest
