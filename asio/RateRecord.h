// Per direction and per rate of the rate table: the pins that can run the
// rate at the configured width, their channels, and once the host asked for
// buffers, its double buffers, the opened pins and eight stream packets per pin.
#pragma once

#include "AsioInterface.h"

#include "device/KsAudPin.h"

#include <windows.h>
#include <ks.h>

#include <cstdint>

class CKsAudFilter;

constexpr int kRenderDirection = 0;
constexpr int kCaptureDirection = 1;
constexpr int kPacketsPerPin = 8;
constexpr int kMaxPinSlots = 3;
constexpr int kMaxChannelSlots = 64;

struct StreamPacket {
    KSSTREAM_HEADER header;  // Size 56, presentation time 1/1
    OVERLAPPED overlapped;   // its event is made once at init and kept
    int32_t queued;          // the device took the request (it pends or completed)
};

struct PinSlot {
    int32_t supportsRate;
    int32_t inUse;           // at least one host buffer lies on this pin
    int32_t opened;          // format set and pin instantiated
    CKsAudPin* pin;          // the filter's, not owned
    int32_t maxChannels;
    int32_t channelsOpened;
    int32_t framesPerPacket;
    StreamPacket packets[kPacketsPerPin];
};

struct ChannelSlot {
    int32_t present;
    int32_t active;
    int32_t index;           // channel within its pin
    PinSlot* pinSlot;
    int32_t length;          // samples per half (DSD: 32-bit frames)
    int32_t halfBytes;       // bytes of each half as allocated
    void* halves[2];         // host buffers, owned
};

struct RateRecord {
    int32_t valid;
    int32_t rate;
    int32_t channelCount;
    int32_t pinCount;
    PinSlot pins[kMaxPinSlots];
    int32_t openedMask;
    int32_t channelSlotCount;
    ChannelSlot channels[kMaxChannelSlots];
};

// Fills one direction's nine records from the pins of a filter (null: a
// direction without pins, every rate valid with no channels).
void BuildRateRecords(RateRecord (&records)[9], CKsAudFilter* filter, int direction, int32_t width);

// Creates the events of every packet of every record; false when one fails.
bool CreatePacketEvents(RateRecord (&records)[9]);
void ClosePacketEvents(RateRecord (&records)[9]);

RateRecord* RecordOfRate(RateRecord (&records)[9], int32_t rate);
ChannelSlot* ChannelOf(RateRecord* record, int32_t channel);

// The host's buffers of one direction and the pins under them, at width bits
// (DSD: 32-bit frames carrying one-bit samples). ASE_OK, ASE_NoMemory or
// ASE_InvalidParameter for a channel the record does not have.
ASIOError AllocateBuffers(RateRecord& record, bool input, ASIOBufferInfo* infos, int32_t count, int32_t bufferSize,
                          int32_t width, bool dsd);
void ReleaseBuffers(RateRecord& record);

// The wave format a pin is opened with.
WAVEFORMATEXTENSIBLE PinFormat(int32_t rate, int32_t width, int32_t channels);
