// Reading requests: classification by the first "api" or "status" member,
// and the check-and-take of each set_ command's "input".
#pragma once

#include "RemoteRecords.h"

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>

enum class RemoteCommand {
    GetStatus,
    GetData,
    GetPlayingStatus,
    VolUp,
    VolDown,
    Velmor,
    SetPlaybackStatus,
    SetRecordStatus,
    SetAsioStatus,
    SetMiscStatus,
};

enum class RequestKind { Failure, Request, Answer };

// The command word of each command, exactly as controllers send it.
const char* CommandWord(RemoteCommand command);

// Parses one JSON value (text after it is ignored) into document; false
// when the text is not a JSON object. Nesting depth costs no stack.
bool ReadRequestDocument(const char* text, size_t length, rapidjson::Document* document);

// Walks the members in document order up to the first "api" or "status".
RequestKind ClassifyRequest(const rapidjson::Value& request, RemoteCommand* command);

// Each returns true when the request passed its check; the setting then
// holds the gathered values replaced by those the request carries. On
// false nothing is to be applied.
bool TakePlaybackRequest(const rapidjson::Value& request, PlaybackSetting* setting);
bool TakeRecordRequest(const rapidjson::Value& request, RecordSetting* setting);
// A "buffer_size" of 0 or above kMaxRemoteBufferMs fails: its tenths are stored
// in 32 bits; so does a "bit" other than 16, 24 or 32.
constexpr uint32_t kMaxRemoteBufferMs = UINT32_MAX / 10;
bool TakeAsioRequest(const rapidjson::Value& request, AsioSetting* setting);
bool CheckMiscRequest(const rapidjson::Value& request, GpioTable* table);

// Unsigned decimal digits from the start of text; anything else reads as 0
// at the first other character. Saturates at INT32_MAX.
int32_t ReadDecimal(const char* text, size_t length);
