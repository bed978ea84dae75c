#include "RemoteRecords.h"

#include "RemoteIds.h"
#include "device/SharedTypes.h"

#include <cstring>

namespace {

bool Append(int32_t* list, int32_t* count, int32_t capacity, int32_t value) {
    if (*count < 0 || *count >= capacity) return false;
    list[(*count)++] = value;
    return true;
}

}  // namespace

bool AddRate(FormatLists* lists, int32_t rate) {
    return Append(lists->rates, &lists->rateCount, kCapabilityRates, rate);
}

bool AddBits(FormatLists* lists, int32_t bits) {
    return Append(lists->bits, &lists->bitCount, kCapabilityBits, bits);
}

bool AddRecordResource(RemoteCapabilities* caps, bool isLineInput) {
    auto& record = caps->record;
    if (record.resourceCount < 0 || record.resourceCount >= kCapabilityResources) return false;
    const char* name = isLineInput ? kLineInName : kSpdifInName;
    char* target = record.resources[record.resourceCount];
    std::memset(target, 0, kRemoteNameChars);
    std::memcpy(target, name, strnlen(name, kRemoteNameChars - 1));
    ++record.resourceCount;
    return true;
}

void FillAsioCapabilities(RemoteCapabilities* caps, uint32_t widthMask) {
    auto& asio = caps->asio;
    asio.bufferCount = 0;
    asio.bitCount = 0;
    static_assert(kBufferLengthCount <= kCapabilityBufferLengths, "buffer lengths fit");
    for (uint32_t ms : kBufferLengthsMs) Append(asio.bufferMs, &asio.bufferCount, kCapabilityBufferLengths, int32_t(ms));
    if (widthMask & kWidthFlag16) Append(asio.bits, &asio.bitCount, kCapabilityBits, 16);
    if (widthMask & kWidthFlag24) Append(asio.bits, &asio.bitCount, kCapabilityBits, 24);
    if (widthMask & kWidthFlag32) Append(asio.bits, &asio.bitCount, kCapabilityBits, 32);
    asio.valid = 1;
}
