// The copies between host halves and interleaved packets, and the DSD marker
// scan: the SSE2, SSSE3 and AVX2 paths against the plain one on every width and layout, with
// buffers that end at an inaccessible page so a read or write past them
// faults; and eight channels end to end through the driver.
#include "DriverHarness.h"

#include "asio/PacketCopy.h"
#include "device/AsioSettingsKey.h"
#include "device/StatusBlock.h"

#include <intrin.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace asiotest {
namespace {

using packet_copy::Path;

// `size` bytes that end where an inaccessible page begins.
class FencedBuffer {
public:
    explicit FencedBuffer(size_t size) : m_size(size) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const size_t page = info.dwPageSize;
        const size_t pages = (size + page - 1) / page + 1;
        m_base = static_cast<uint8_t*>(VirtualAlloc(nullptr, pages * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (m_base) VirtualProtect(m_base + (pages - 1) * page, page, PAGE_NOACCESS, &old);
        m_data = m_base ? m_base + (pages - 1) * page - size : nullptr;
    }
    ~FencedBuffer() {
        if (m_base) VirtualFree(m_base, 0, MEM_RELEASE);
    }
    FencedBuffer(const FencedBuffer&) = delete;
    FencedBuffer& operator=(const FencedBuffer&) = delete;
    uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }

private:
    uint8_t* m_base = nullptr;
    uint8_t* m_data = nullptr;
    size_t m_size;
};

// Fills with bytes no two positions of a test share by accident.
void Fill(uint8_t* data, size_t size, std::mt19937& random) {
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(random());
}

// Around every kernel's step: 4, 8 or 16 frames, with loads or stores up to
// three frames ahead (11 and 19 end a 24-bit pair's 32-byte stores at the last byte).
const int32_t kFrameCounts[] = {0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15, 16, 17, 18, 19, 26, 31, 32, 33, 441, 1764};
const int32_t kChannelCounts[] = {1, 2, 3, 4, 6, 8, 12, 16};

// The paths held to the plain one: those the build and the processor have.
std::vector<const Path*> FastPaths() {
    std::vector<const Path*> paths;
    for (const Path* path : {packet_copy::Sse2(), packet_copy::Ssse3(), packet_copy::Avx2()}) {
        if (path) paths.push_back(path);
    }
    return paths;
}

// The path follows the processor's and the system's feature bits: AVX2 only
// with the processor's AVX and AVX2 and a system that keeps the 256-bit
// registers (an AVX2 processor under a system without YMM state gets SSSE3).
TEST(PacketCopy, TheEngineTakesTheNewestPathTheFeatureBitsAllow) {
#if defined(__x86_64__) || defined(__i386__)
    // Both bitnesses have the vector kernels (every processor these systems run on has SSE2).
    ASSERT_NE(nullptr, packet_copy::Sse2());
    using packet_copy::Choose;
    using packet_copy::CpuFeatures;
    constexpr uint32_t ssse3 = 1u << 9, osxsave = 1u << 27, avx = 1u << 28, avx2 = 1u << 5;
    const CpuFeatures everything = {ssse3 | osxsave | avx, avx2, 6};
    EXPECT_STREQ("avx2", Choose(everything).name);
    EXPECT_STREQ("ssse3", Choose({ssse3 | osxsave | avx, avx2, 2}).name);  // no YMM state kept
    EXPECT_STREQ("ssse3", Choose({ssse3 | avx, avx2, 6}).name);            // no XSAVE: XGETBV not to be trusted
    EXPECT_STREQ("ssse3", Choose({ssse3 | osxsave, avx2, 6}).name);        // AVX off
    EXPECT_STREQ("ssse3", Choose({ssse3 | osxsave | avx, 0, 6}).name);     // no AVX2
    EXPECT_STREQ("sse2", Choose({osxsave | avx, avx2, 6}).name);          // AVX2 without SSSE3 is not offered
    EXPECT_STREQ("sse2", Choose({0, 0, 0}).name);
    // This machine: what the engine uses is what its own bits choose.
    EXPECT_EQ(&Choose(packet_copy::ThisMachine()), &packet_copy::Best());
    EXPECT_EQ(packet_copy::Avx2() != nullptr, &packet_copy::Best() == packet_copy::Avx2());
#endif
}

// Every width, channel count and frame count, packed and padded frames,
// with and without a missing channel: the same bytes as sample-by-sample.
TEST(PacketCopy, InterleaveMatchesThePlainPathAndStaysInsideItsBuffers) {
    std::mt19937 random(23);
    for (const Path* path : FastPaths()) {
        for (int32_t width : {2, 3, 4}) {
            for (int32_t channels : kChannelCounts) {
                for (int32_t padding : {0, 1}) {
                    for (bool missing : {false, true}) {
                        if (missing && channels < 2) continue;
                        const int32_t stride = (channels + padding) * width;
                        for (int32_t frames : kFrameCounts) {
                            std::vector<std::unique_ptr<FencedBuffer>> halves;
                            std::vector<const uint8_t*> sources;
                            for (int32_t c = 0; c < channels; ++c) {
                                halves.emplace_back(new FencedBuffer(static_cast<size_t>(frames) * width));
                                Fill(halves.back()->data(), halves.back()->size(), random);
                                sources.push_back(missing && c == 1 ? nullptr : halves.back()->data());
                            }
                            const size_t bytes = static_cast<size_t>(frames) * stride;
                            FencedBuffer fast(bytes);
                            Fill(fast.data(), bytes, random);
                            const std::vector<uint8_t> before(fast.data(), fast.data() + bytes);
                            std::vector<uint8_t> expected = before;
                            bool plainMarkers[16], fastMarkers[16];
                            packet_copy::Plain().interleave(expected.data(), stride, sources.data(), channels, width,
                                                            frames, plainMarkers);
                            // With and without the marker scan on the way.
                            path->interleave(fast.data(), stride, sources.data(), channels, width, frames, nullptr);
                            ASSERT_EQ(0, std::memcmp(expected.data(), fast.data(), bytes))
                                << path->name << " width " << width << " channels " << channels << " frames " << frames;
                            if (bytes) std::memcpy(fast.data(), before.data(), bytes);
                            path->interleave(fast.data(), stride, sources.data(), channels, width, frames, fastMarkers);
                            for (int32_t c = 0; c < channels; ++c) ASSERT_EQ(plainMarkers[c], fastMarkers[c]);
                            ASSERT_EQ(0, std::memcmp(expected.data(), fast.data(), bytes))
                                << path->name << " width " << width << " channels " << channels << " padding "
                                << padding << " missing " << missing << " frames " << frames;
                            // And the plain path itself put each sample where it belongs.
                            for (int32_t f = 0; f < frames; f += 7) {
                                for (int32_t c = 0; c < channels; ++c) {
                                    if (!sources[c]) continue;
                                    ASSERT_EQ(0, std::memcmp(expected.data() + f * stride + c * width,
                                                             sources[c] + f * width, width));
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST(PacketCopy, DeinterleaveMatchesThePlainPathAndStaysInsideItsBuffers) {
    std::mt19937 random(6);
    for (const Path* path : FastPaths()) {
        for (int32_t width : {2, 3, 4}) {
            for (int32_t channels : kChannelCounts) {
                for (int32_t padding : {0, 1}) {
                    for (bool missing : {false, true}) {
                        if (missing && channels < 2) continue;
                        const int32_t stride = (channels + padding) * width;
                        for (int32_t frames : kFrameCounts) {
                            FencedBuffer packet(static_cast<size_t>(frames) * stride);
                            Fill(packet.data(), packet.size(), random);
                            const size_t half = static_cast<size_t>(frames) * width;
                            std::vector<std::unique_ptr<FencedBuffer>> fast;
                            std::vector<std::vector<uint8_t>> plain;
                            std::vector<uint8_t*> fastOut, plainOut;
                            for (int32_t c = 0; c < channels; ++c) {
                                fast.emplace_back(new FencedBuffer(half));
                                Fill(fast.back()->data(), half, random);
                                plain.emplace_back(fast.back()->data(), fast.back()->data() + half);
                                const bool skip = missing && c == channels - 1;
                                fastOut.push_back(skip ? nullptr : fast.back()->data());
                                plainOut.push_back(skip ? nullptr : plain.back().data());
                            }
                            packet_copy::Plain().deinterleave(packet.data(), stride, plainOut.data(), channels, width,
                                                              frames);
                            path->deinterleave(packet.data(), stride, fastOut.data(), channels, width, frames);
                            for (int32_t c = 0; c < channels; ++c) {
                                ASSERT_EQ(0, std::memcmp(plain[c].data(), fast[c]->data(), half))
                                    << path->name << " width " << width << " channels " << channels << " padding "
                                    << padding << " missing " << missing << " frames " << frames << " channel " << c;
                                for (int32_t f = 0; f < frames && plainOut[c]; f += 5) {
                                    ASSERT_EQ(0, std::memcmp(plain[c].data() + f * width,
                                                             packet.data() + f * stride + c * width, width));
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}

// One channel's samples with the given marker bytes; the lower bytes vary.
std::vector<uint8_t> Samples(const std::vector<uint8_t>& markers, int32_t width, std::mt19937& random) {
    std::vector<uint8_t> samples(markers.size() * width);
    for (size_t f = 0; f < markers.size(); ++f) {
        for (int32_t b = 0; b + 1 < width; ++b) samples[f * width + b] = static_cast<uint8_t>(random());
        samples[f * width + width - 1] = markers[f];
    }
    return samples;
}

bool Markers(const Path& path, const std::vector<uint8_t>& samples, int32_t frames, int32_t width) {
    // From a fenced copy, so reading past the last sample faults.
    FencedBuffer fenced(samples.size());
    if (!samples.empty()) std::memcpy(fenced.data(), samples.data(), samples.size());
    return path.markers(fenced.data(), frames, width);
}

TEST(PacketCopy, MarkerScanAgreesWithThePlainPathAtEveryOffset) {
    std::mt19937 random(5);
    const uint8_t kLow = 0x05, kHigh = 0xFA, kConstant = 0xAA;
    for (const Path* path : FastPaths()) {
        for (int32_t width : {2, 3, 4}) {
            for (int32_t frames : {1, 2, 3, 4, 5, 15, 16, 17, 18, 31, 33, 47, 100}) {
                // The patterns that pass: per sample, per pair, constant; from either marker.
                std::vector<std::vector<uint8_t>> passing;
                for (uint8_t first : {kLow, kHigh}) {
                    const auto other = static_cast<uint8_t>(~first);
                    std::vector<uint8_t> perSample, perPair;
                    for (int32_t f = 0; f < frames; ++f) {
                        perSample.push_back(f % 2 ? other : first);
                        perPair.push_back((f / 2) % 2 ? other : first);
                    }
                    passing.push_back(perSample);
                    passing.push_back(perPair);
                }
                passing.push_back(std::vector<uint8_t>(frames, kConstant));
                for (const std::vector<uint8_t>& markers : passing) {
                    const std::vector<uint8_t> samples = Samples(markers, width, random);
                    const std::vector<uint8_t>& good = samples;
                    ASSERT_TRUE(Markers(packet_copy::Plain(), samples, frames, width)) << width << " " << frames;
                    ASSERT_TRUE(Markers(*path, samples, frames, width)) << path->name << " " << width << " " << frames;
                    // One wrong marker byte anywhere fails both.
                    for (int32_t f = 0; f < frames; ++f) {
                        for (uint8_t wrong : {uint8_t(0x00), uint8_t(~markers[f]), kConstant, uint8_t(0x06)}) {
                            if (wrong == markers[f]) continue;
                            std::vector<uint8_t> broken = markers;
                            broken[f] = wrong;
                            const std::vector<uint8_t> bad = Samples(broken, width, random);
                            const bool plain = Markers(packet_copy::Plain(), bad, frames, width);
                            ASSERT_EQ(plain, Markers(*path, bad, frames, width))
                                << path->name << " width " << width << " frames " << frames << " offset " << f;
                            // And the scan the copy does on the way, the broken channel among good
                            // ones: two channels, one group of four, two and three groups.
                            for (int32_t channels : {2, 4, 8, 12}) {
                                std::vector<const uint8_t*> sources(channels, good.data());
                                sources[channels - 1 - f % channels] = bad.data();
                                std::vector<uint8_t> packet(static_cast<size_t>(frames) * width * channels);
                                bool found[12];
                                path->interleave(packet.data(), width * channels, sources.data(), channels, width,
                                                 frames, found);
                                for (int32_t c = 0; c < channels; ++c) {
                                    ASSERT_EQ(sources[c] == bad.data() ? plain : true, found[c])
                                        << path->name << " width " << width << " frames " << frames << " offset " << f
                                        << " channels " << channels << " channel " << c;
                                }
                            }
                            // The first two samples choose the pattern; a later one cannot.
                            if (f >= 2) {
                                ASSERT_FALSE(plain) << f;
                            }
                        }
                    }
                }
                // Random marker runs: passing or not, both paths agree.
                for (int round = 0; round < 20; ++round) {
                    std::vector<uint8_t> markers;
                    for (int32_t f = 0; f < frames; ++f) markers.push_back(passing[round % 5][f]);
                    markers[random() % frames] = static_cast<uint8_t>(std::vector<uint8_t>{kLow, kHigh, kConstant}[random() % 3]);
                    const std::vector<uint8_t> samples = Samples(markers, width, random);
                    ASSERT_EQ(Markers(packet_copy::Plain(), samples, frames, width), Markers(*path, samples, frames, width));
                }
            }
            EXPECT_FALSE(Markers(*path, {}, 0, width));
        }
    }
}

using DriverWideCopy = DriverTest;

bool WaitSwitches(int atLeast) {
    DWORD start = GetTickCount();
    while (g_host.switches < atLeast) {
        if (GetTickCount() - start > 5000) return false;
        Sleep(2);
    }
    return true;
}

// Eight outputs on one pin at every width: the whole-pin copy puts every
// channel where the device reads it.
TEST_F(DriverWideCopy, EightChannelsAtEveryWidthArriveIntact) {
    CStatusBlock block;
    ASSERT_EQ(S_OK, block.Open());
    device->config.burst = 0;
    device->config.renderChannels = 8;
    const sim::Stream& render = device->streams[0];
    for (uint32_t bits : {16u, 24u, 32u}) {
        PutSettingDword(kValueBitsPerSample, bits);
        block.Write(&StatusBlockLayout::bitsPerSample, bits);
        ASSERT_NE(nullptr, Ready(96000));
        g_host.bits = bits;
        g_host.writePattern = true;
        g_host.switches = 0;
        // An odd length leaves frames for the per-sample tail.
        ASSERT_EQ(ASE_OK, Buffers(driver, {0, 1, 2, 3, 4, 5, 6, 7}, {}, 1923));
        ASSERT_EQ(ASE_OK, driver->start());
        ASSERT_TRUE(WaitSwitches(10)) << bits;
        ASSERT_EQ(ASE_OK, driver->stop());
        EXPECT_EQ(8u, render.channels);
        for (int c = 0; c < 8; ++c) {
            EXPECT_EQ(1u, render.channel[c].locked) << bits << " bits channel " << c;
            EXPECT_EQ(0u, render.channel[c].breaks) << bits << " bits channel " << c;
        }
        driver->disposeBuffers();
        driver->Release();
        driver = nullptr;
    }
}

}  // namespace
}  // namespace asiotest
