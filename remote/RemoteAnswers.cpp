#include "RemoteAnswers.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstring>

namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void Decimal(JsonWriter& w, int64_t value) {
    char text[24];
    int n = std::snprintf(text, sizeof(text), "%lld", static_cast<long long>(value));
    w.String(text, static_cast<rapidjson::SizeType>(n));
}

void Name(JsonWriter& w, const char* text, size_t room) {
    w.String(text, static_cast<rapidjson::SizeType>(strnlen(text, room)));
}

void DecimalArray(JsonWriter& w, const char* key, const int32_t* values, int32_t count, int32_t capacity) {
    w.Key(key);
    w.StartArray();
    for (int32_t i = 0; i < count && i < capacity; ++i) Decimal(w, values[i]);
    w.EndArray();
}

// {"status":"ok","output":{...},"error":"no"} around what body writes.
template <typename Body>
std::string Answer(bool ok, Body body) {
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    w.Key("status");
    w.String(ok ? "ok" : "fail");
    w.Key("output");
    w.StartObject();
    body(w);
    w.EndObject();
    w.Key("error");
    w.String("no");
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace

std::string BuildStatusAnswer(bool ok) {
    return Answer(ok, [](JsonWriter&) {});
}

std::string BuildVolumeAnswer() {
    return Answer(true, [](JsonWriter& w) {
        w.Key("playback");
        w.StartObject();
        w.Key("volume");
        w.String("");
        w.EndObject();
    });
}

std::string BuildGetStatusAnswer(const RemoteStatus& s) {
    return Answer(true, [&](JsonWriter& w) {
        if (s.playback.valid) {
            w.Key("playback");
            w.StartObject();
            w.Key("rate");
            Decimal(w, s.playback.rate);
            w.Key("bit");
            Decimal(w, s.playback.bits);
            w.Key("volume");
            Decimal(w, s.playback.volume);
            w.EndObject();
        }
        if (s.record.valid) {
            w.Key("record");
            w.StartObject();
            w.Key("rate");
            Decimal(w, s.record.rate);
            w.Key("bit");
            Decimal(w, s.record.bits);
            w.Key("volume");
            Decimal(w, s.record.volume);
            w.Key("resource");
            Name(w, s.record.resource, sizeof(s.record.resource));
            w.EndObject();
        }
        if (s.asio.valid) {
            w.Key("asio");
            w.StartObject();
            w.Key("buffer_size");
            Decimal(w, s.asio.bufferMs);
            w.Key("bit");
            Decimal(w, s.asio.bits);
            w.EndObject();
        }
        if (s.gpio.valid) {
            w.Key("misc");
            w.StartObject();
            w.Key("gpio");
            w.StartObject();
            for (int32_t i = 0; i < s.gpio.count && i < kGpioPairs; ++i) {
                char pin[16];
                int n = std::snprintf(pin, sizeof(pin), "%d", static_cast<int>(s.gpio.pins[i][0]));
                w.Key(pin, static_cast<rapidjson::SizeType>(n));
                w.Int(s.gpio.pins[i][1]);
            }
            w.EndObject();
            w.EndObject();
        }
    });
}

std::string BuildGetDataAnswer(const RemoteCapabilities& c) {
    return Answer(true, [&](JsonWriter& w) {
        if (c.playback.valid) {
            w.Key("playback");
            w.StartObject();
            DecimalArray(w, "rate", c.playback.lists.rates, c.playback.lists.rateCount, kCapabilityRates);
            DecimalArray(w, "bit", c.playback.lists.bits, c.playback.lists.bitCount, kCapabilityBits);
            w.EndObject();
        }
        if (c.record.valid) {
            w.Key("record");
            w.StartObject();
            DecimalArray(w, "rate", c.record.lists.rates, c.record.lists.rateCount, kCapabilityRates);
            DecimalArray(w, "bit", c.record.lists.bits, c.record.lists.bitCount, kCapabilityBits);
            w.Key("resource");
            w.StartArray();
            for (int32_t i = 0; i < c.record.resourceCount && i < kCapabilityResources; ++i) {
                Name(w, c.record.resources[i], kRemoteNameChars);
            }
            w.EndArray();
            w.EndObject();
        }
        if (c.asio.valid) {
            w.Key("asio");
            w.StartObject();
            DecimalArray(w, "buffer_size", c.asio.bufferMs, c.asio.bufferCount, kCapabilityBufferLengths);
            DecimalArray(w, "bit", c.asio.bits, c.asio.bitCount, kCapabilityBits);
            w.EndObject();
        }
    });
}

std::string BuildPlayingAnswer(const PlayingStatus& p, bool withPlayback, bool withAsio) {
    return Answer(true, [&](JsonWriter& w) {
        if (withPlayback) {
            w.Key("playback");
            w.StartObject();
            w.Key("rate");
            Decimal(w, p.playbackRate);
            w.Key("bit");
            Decimal(w, p.playbackBits);
            w.EndObject();
        }
        if (withAsio) {
            // Truncated toward zero; a length outside the 32-bit range reads as 0.
            float ms = p.asioBufferMs;
            int64_t bufferMs = (ms > -2147483648.0f && ms < 2147483648.0f) ? static_cast<int64_t>(ms) : 0;
            w.Key("asio");
            w.StartObject();
            w.Key("rate");
            Decimal(w, p.asioRate);
            w.Key("bit");
            Decimal(w, p.asioBits);
            w.Key("buffer_size");
            Decimal(w, bufferMs);
            w.Key("ASIO Format");
            Name(w, p.asioFormat, sizeof(p.asioFormat));
            w.EndObject();
        }
    });
}
