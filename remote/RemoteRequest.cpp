#include "RemoteRequest.h"

#include <climits>
#include <cstring>

using rapidjson::Value;

namespace {

struct CommandName {
    RemoteCommand command;
    const char* word;
};

const CommandName kCommands[] = {
    {RemoteCommand::GetStatus, "get_status"},
    {RemoteCommand::GetData, "get_data"},
    {RemoteCommand::GetPlayingStatus, "get_playing_status"},
    {RemoteCommand::VolUp, "vol_up"},
    {RemoteCommand::VolDown, "vol_down"},
    {RemoteCommand::Velmor, "velmor"},
    {RemoteCommand::SetPlaybackStatus, "set_playback_status"},
    {RemoteCommand::SetRecordStatus, "set_record_status"},
    {RemoteCommand::SetAsioStatus, "set_asio_status"},
    {RemoteCommand::SetMiscStatus, "set_misc_status"},
};

bool NameIs(const Value& name, const char* word) {
    size_t length = std::strlen(word);
    return name.GetStringLength() == length && std::memcmp(name.GetString(), word, length) == 0;
}

bool StringIs(const Value& value, const char* word) { return value.IsString() && NameIs(value, word); }

int32_t DecimalOf(const Value& value) { return ReadDecimal(value.GetString(), value.GetStringLength()); }

// A bit depth travels in 16 bits: a larger number fails the request rather
// than wrap into a depth the controller never asked for ("65560" is not 24).
bool TakeBits(const Value& value, uint16_t* bits) {
    int32_t decimal = DecimalOf(value);
    if (decimal > 0xFFFF) return false;
    *bits = static_cast<uint16_t>(decimal);
    return true;
}

// The checks all set_ commands share: every top-level member is "api"
// naming this command or an "input" object whose members the taker accepts.
// A taker returns false for a name or a JSON type it does not accept.
template <typename Taker>
bool CheckAndTake(const Value& request, RemoteCommand command, Taker take) {
    if (!request.IsObject()) return false;
    for (auto member = request.MemberBegin(); member != request.MemberEnd(); ++member) {
        if (NameIs(member->name, "api")) {
            if (!StringIs(member->value, CommandWord(command))) return false;
        } else if (NameIs(member->name, "input")) {
            if (!member->value.IsObject()) return false;
            if (!take(member->value)) return false;
        } else {
            return false;
        }
    }
    return true;
}

template <typename Each>
bool EachInputMember(const Value& input, Each each) {
    for (auto member = input.MemberBegin(); member != input.MemberEnd(); ++member) {
        if (!each(member->name, member->value)) return false;
    }
    return true;
}

}  // namespace

const char* CommandWord(RemoteCommand command) {
    for (const auto& entry : kCommands) {
        if (entry.command == command) return entry.word;
    }
    return "";
}

int32_t ReadDecimal(const char* text, size_t length) {
    int64_t value = 0;
    for (size_t i = 0; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT32_MAX) return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

bool ReadRequestDocument(const char* text, size_t length, rapidjson::Document* document) {
    constexpr unsigned kFlags = rapidjson::kParseStopWhenDoneFlag | rapidjson::kParseIterativeFlag;
    document->Parse<kFlags>(text, length);
    return !document->HasParseError() && document->IsObject();
}

RequestKind ClassifyRequest(const Value& request, RemoteCommand* command) {
    if (!request.IsObject()) return RequestKind::Failure;
    for (auto member = request.MemberBegin(); member != request.MemberEnd(); ++member) {
        if (NameIs(member->name, "api")) {
            if (!member->value.IsString()) return RequestKind::Failure;
            for (const auto& entry : kCommands) {
                if (NameIs(member->value, entry.word)) {
                    *command = entry.command;
                    return RequestKind::Request;
                }
            }
            return RequestKind::Failure;
        }
        if (NameIs(member->name, "status")) {
            return StringIs(member->value, "ok") || StringIs(member->value, "fail") ? RequestKind::Answer
                                                                                      : RequestKind::Failure;
        }
    }
    return RequestKind::Failure;
}

// The format and volume members playback and record requests share: 1 taken,
// 0 not one of them, -1 one of them with a value that fails the request.
template <typename Setting>
int TakeFormatMember(const Value& name, const Value& value, Setting* taken) {
    if (NameIs(name, "rate") && value.IsString()) {
        taken->rate = DecimalOf(value);
    } else if (NameIs(name, "bit") && value.IsString()) {
        if (!TakeBits(value, &taken->bits)) return -1;
    } else if (NameIs(name, "volume") && value.IsInt()) {
        taken->volume = value.GetInt();
        taken->volumeNamed = true;
    } else {
        return 0;
    }
    return 1;
}

bool TakePlaybackRequest(const Value& request, PlaybackSetting* setting) {
    PlaybackSetting taken = *setting;
    bool passed = CheckAndTake(request, RemoteCommand::SetPlaybackStatus, [&](const Value& input) {
        return EachInputMember(input, [&](const Value& name, const Value& value) {
            return TakeFormatMember(name, value, &taken) > 0;
        });
    });
    if (passed) *setting = taken;
    return passed;
}

bool TakeRecordRequest(const Value& request, RecordSetting* setting) {
    RecordSetting taken = *setting;
    bool passed = CheckAndTake(request, RemoteCommand::SetRecordStatus, [&](const Value& input) {
        return EachInputMember(input, [&](const Value& name, const Value& value) {
            int format = TakeFormatMember(name, value, &taken);
            if (format != 0) return format > 0;
            if (!NameIs(name, "resource") || !value.IsString()) return false;
            // The name must fit the record with its terminator.
            if (value.GetStringLength() >= sizeof(taken.resource)) return false;
            std::memset(taken.resource, 0, sizeof(taken.resource));
            std::memcpy(taken.resource, value.GetString(), value.GetStringLength());
            return true;
        });
    });
    if (passed) *setting = taken;
    return passed;
}

bool TakeAsioRequest(const Value& request, AsioSetting* setting) {
    AsioSetting taken = *setting;
    bool passed = CheckAndTake(request, RemoteCommand::SetAsioStatus, [&](const Value& input) {
        return EachInputMember(input, [&](const Value& name, const Value& value) {
            if (NameIs(name, "buffer_size") && value.IsString()) {
                // Lengths outside the table pass ("7" is 70), but not one
                // the driver cannot run or whose tenths do not fit 32 bits.
                int32_t ms = DecimalOf(value);
                if (ms <= 0 || static_cast<uint32_t>(ms) > kMaxRemoteBufferMs) return false;
                taken.bufferMs = ms;
            } else if (NameIs(name, "bit") && value.IsString()) {
                // The driver runs 16, 24 or 32 bits; another width would
                // stand in the block as the preference.
                int32_t bits = DecimalOf(value);
                if (bits != 16 && bits != 24 && bits != 32) return false;
                taken.bits = bits;
            } else {
                return false;
            }
            return true;
        });
    });
    if (passed) *setting = taken;
    return passed;
}

bool CheckMiscRequest(const Value& request, GpioTable* table) {
    GpioTable taken = {};
    bool passed = CheckAndTake(request, RemoteCommand::SetMiscStatus, [&](const Value& input) {
        return EachInputMember(input, [&](const Value& name, const Value& gpio) {
            if (!NameIs(name, "gpio") || !gpio.IsObject()) return false;
            taken = GpioTable{};
            return EachInputMember(gpio, [&](const Value& pinName, const Value& level) {
                int32_t pin = ReadDecimal(pinName.GetString(), pinName.GetStringLength()) & 0xFF;
                if (pin > kGpioHighestPin) return true;
                // The table holds seven pairs: more is refused, never overrun.
                if (!level.IsInt() || taken.count >= kGpioPairs) return false;
                taken.pins[taken.count][0] = pin;
                taken.pins[taken.count][1] = level.GetInt();
                ++taken.count;
                return true;
            });
        });
    });
    if (passed && table) *table = taken;
    return passed;
}
