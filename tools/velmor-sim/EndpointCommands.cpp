#include "EndpointCommands.h"

#include "simulator/SimDevice.h"
#include "simulator/endpoints/EndpointObjects.h"
#include "simulator/endpoints/Endpoints.h"

#include "device/EndpointKeys.h"
#include "device/KsConstants.h"

#include <audioclient.h>
#include <objbase.h>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char kEndpointUsage[] =
    "  endpoints              the Windows audio endpoints: format, levels with each channel's range\n"
    "                         and step, mute, record input, topology and faults\n"
    "  volume render|line|spdif DB [DB]   set the level (left, right), snapped to the step\n"
    "  range render|line|spdif MIN MAX STEP [MIN MAX STEP]  each channel's level range (left, right)\n"
    "  mute render|line|spdif on|off      set the mute\n"
    "  select line|spdif                  choose the record input\n"
    "  format render|line|spdif BITS RATE set the shared-mode format (stereo PCM; refused\n"
    "                                     when the device cannot play it)\n"
    "  topology normal|capture-only|wrong-flow|no-mux|many\n"
    "                         the device's endpoints: all; no render endpoint; a render\n"
    "                         connector that claims data flows out; record inputs without\n"
    "                         a multiplexer; eight more render and capture endpoints\n"
    "  fault refuse-property-write on|off endpoint property writes give E_ACCESSDENIED\n"
    "  fault fail-property-write N|off    the Nth write through one opened store fails (1-4)\n"
    "  fault no-level-control on|off      the device's topology has no level control\n"
    "  fault no-connector on|off          the device's endpoint topologies have no connector\n"
    "  fault commit-required on|off       property writes take effect only at Commit\n"
    "  state render|line|spdif active|disabled|unplugged  as the user left the endpoint\n"
    "  set endpoint-arrival MS [SPACING]  the device's first endpoint turns active MS after its\n"
    "                                     interfaces, each further one SPACING ms later (500 0)\n";

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

const char* const kKeyNames[sim::kFormatKeyCount] = {"device", "float", "float8a", "float8b"};
const char* const kTopologyNames[sim::kTopologyCount] = {"normal", "capture-only", "wrong-flow", "no-mux", "many"};
// A store is written at most four times by one format change.
constexpr uint32_t kMaxFailingWrite = sim::kFormatKeyCount;

const char* TopologyName(uint32_t topology) {
    return topology < sim::kTopologyCount ? kTopologyNames[topology] : "?";
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

bool EndpointByName(const std::string& name, uint32_t& index) {
    if (name == "render") return index = sim::kDeviceRender, true;
    if (name == "line") return index = sim::kDeviceLineIn, true;
    if (name == "spdif") return index = sim::kDeviceSpdifIn, true;
    return false;
}

bool ParseFloat(const std::string& text, float& value) {
    char* end = nullptr;
    value = std::strtof(text.c_str(), &end);
    return !text.empty() && *end == '\0';
}

bool ParseOnOff(const std::string& text, uint32_t& value) {
    if (text == "on") return value = 1, true;
    if (text == "off") return value = 0, true;
    return false;
}

int Fail(const char* message) {
    std::fprintf(stderr, "velmor-sim: %s\n", message);
    return 1;
}

const char* StateName(DWORD deviceState) {
    switch (deviceState) {
        case DEVICE_STATE_ACTIVE: return "active";
        case DEVICE_STATE_DISABLED: return "disabled";
        case DEVICE_STATE_UNPLUGGED: return "unplugged";
        default: return "notpresent";
    }
}

struct Row {
    uint32_t index;
    bool active;
    DWORD deviceState;
    sim::EndpointValues values;
    WAVEFORMATEXTENSIBLE format;
};

bool Listed(sim::SharedState& state, uint32_t index) {
    sim::StateLock shared;
    return sim::EndpointListed(state, index);
}

Row ReadRow(uint32_t index) {
    Row row = {};
    row.index = index;
    sim::ReadEndpoint(index, row.values, &row.active);
    if (sim::SharedState* state = sim::State()) {
        sim::StateLock shared;
        row.deviceState = sim::EndpointDeviceState(*state, index);
    }
    std::memcpy(&row.format, row.values.format[0], sizeof(row.format));
    return row;
}

const char* Selected(uint32_t selection) {
    return selection == sim::kLineInFeedId ? "line" : selection == sim::kSpdifInFeedId ? "spdif" : "?";
}

std::string ListText(sim::SharedState& state) {
    std::string out;
    char line[512];
    for (uint32_t i = 0; i < sim::kEndpointCount; ++i) {
        if (!Listed(state, i)) continue;
        const sim::EndpointDesc& d = sim::Endpoint(i);
        Row r = ReadRow(i);
        const bool floatFormat = IsEqualGUID(r.format.SubFormat, kKsDataFormatSubtypeIeeeFloat);
        snprintf(line, sizeof(line),
                 "endpoint %u %s %s %s \"%s\" format %u ch %lu Hz %u bits %s level %.2f %.2f dB mute %s "
                 "writes %u %u %u %u\n",
                 i, d.flow == eRender ? "render" : "capture", d.ours ? "device" : "foreign",
                 StateName(r.deviceState), Narrow(sim::EndpointFriendlyName(state, i)).c_str(),
                 r.format.Format.nChannels, static_cast<unsigned long>(r.format.Format.nSamplesPerSec),
                 r.format.Format.wBitsPerSample, floatFormat ? "float" : "pcm", r.values.level[0], r.values.level[1],
                 r.values.mute ? "on" : "off", r.values.formatWrites[0], r.values.formatWrites[1],
                 r.values.formatWrites[2], r.values.formatWrites[3]);
        out += line;
        const sim::LevelRange* range = r.values.range;
        snprintf(line, sizeof(line), "endpoint %u range left %.2f..%.2f step %.2f right %.2f..%.2f step %.2f dB\n", i,
                 range[0].minimum, range[0].maximum, range[0].step, range[1].minimum, range[1].maximum, range[1].step);
        out += line;
        snprintf(line, sizeof(line), "endpoint %u instance %s\n", i, Narrow(sim::EndpointInstance(state, i)).c_str());
        out += line;
    }
    sim::EndpointsState e;
    {
        sim::StateLock shared;
        e = sim::Endpoints(state);
    }
    snprintf(line, sizeof(line), "record-input %s\ntopology %s\n", Selected(e.muxSelection), TopologyName(e.topology));
    out += line;
    char failing[16] = "off";
    if (e.failPropertyWrite) snprintf(failing, sizeof(failing), "%u", e.failPropertyWrite);
    snprintf(line, sizeof(line),
             "fault refuse-property-write %s\nfault fail-property-write %s\nfault no-level-control %s\n"
             "fault no-connector %s\nfault commit-required %s\nendpoint-arrival %u %u ms\n",
             e.refusePropertyWrite ? "on" : "off", failing, e.noLevelControl ? "on" : "off", e.noConnector ? "on" : "off",
             e.commitRequired ? "on" : "off", e.arrivalMs, e.arrivalSpacingMs);
    out += line;
    return out;
}

std::string ListJson(sim::SharedState& state) {
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartObject();
    w.Key("endpoints");
    w.StartArray();
    for (uint32_t i = 0; i < sim::kEndpointCount; ++i) {
        if (!Listed(state, i)) continue;
        const sim::EndpointDesc& d = sim::Endpoint(i);
        Row r = ReadRow(i);
        w.StartObject();
        w.Key("index"), w.Uint(i);
        w.Key("id"), w.String(Narrow(d.id).c_str());
        w.Key("name"), w.String(Narrow(sim::EndpointFriendlyName(state, i)).c_str());
        w.Key("instance"), w.String(Narrow(sim::EndpointInstance(state, i)).c_str());
        w.Key("flow"), w.String(d.flow == eRender ? "render" : "capture");
        w.Key("device"), w.Bool(d.ours);
        w.Key("active"), w.Bool(r.active);
        w.Key("channels"), w.Uint(r.format.Format.nChannels);
        w.Key("rate"), w.Uint(r.format.Format.nSamplesPerSec);
        w.Key("bits"), w.Uint(r.format.Format.wBitsPerSample);
        w.Key("float"), w.Bool(IsEqualGUID(r.format.SubFormat, kKsDataFormatSubtypeIeeeFloat) != 0);
        w.Key("level"), w.StartArray(), w.Double(r.values.level[0]), w.Double(r.values.level[1]), w.EndArray();
        w.Key("range");
        w.StartArray();
        for (const sim::LevelRange& range : r.values.range) {
            w.StartObject();
            w.Key("min"), w.Double(range.minimum);
            w.Key("max"), w.Double(range.maximum);
            w.Key("step"), w.Double(range.step);
            w.EndObject();
        }
        w.EndArray();
        w.Key("mute"), w.Bool(r.values.mute != 0);
        w.Key("writes");
        w.StartObject();
        for (uint32_t k = 0; k < sim::kFormatKeyCount; ++k) w.Key(kKeyNames[k]), w.Uint(r.values.formatWrites[k]);
        w.EndObject();
        w.Key("state"), w.String(StateName(r.deviceState));
        w.EndObject();
    }
    w.EndArray();
    sim::EndpointsState e;
    {
        sim::StateLock shared;
        e = sim::Endpoints(state);
    }
    w.Key("record_input"), w.String(Selected(e.muxSelection));
    w.Key("topology"), w.String(TopologyName(e.topology));
    w.Key("faults");
    w.StartObject();
    w.Key("refuse_property_write"), w.Bool(e.refusePropertyWrite != 0);
    w.Key("fail_property_write"), w.Uint(e.failPropertyWrite);
    w.Key("no_level_control"), w.Bool(e.noLevelControl != 0);
    w.Key("no_connector"), w.Bool(e.noConnector != 0);
    w.Key("commit_required"), w.Bool(e.commitRequired != 0);
    w.EndObject();
    w.Key("endpoint_arrival_ms"), w.Uint(e.arrivalMs);
    w.Key("endpoint_arrival_spacing_ms"), w.Uint(e.arrivalSpacingMs);
    w.EndObject();
    return std::string(buffer.GetString()) + "\n";
}

bool Active(sim::SharedState& state, uint32_t index) {
    sim::StateLock shared;
    return sim::EndpointActive(state, index);
}

// As the mixer's format page does: asks the device through the audio client,
// then writes the endpoint's property store and commits it.
HRESULT WriteFormat(IMMDevice* device, const WAVEFORMATEXTENSIBLE& f) {
    IAudioClient* client = nullptr;
    HRESULT hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&client));
    if (SUCCEEDED(hr)) {
        hr = client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &f.Format, nullptr);
        client->Release();
    }
    IPropertyStore* store = nullptr;
    if (hr == S_OK) hr = device->OpenPropertyStore(STGM_READWRITE, &store);
    if (SUCCEEDED(hr)) {
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_BLOB;
        value.blob.cbSize = sizeof(f);
        value.blob.pBlobData = reinterpret_cast<BYTE*>(const_cast<WAVEFORMATEXTENSIBLE*>(&f));
        hr = store->SetValue(kKeyDeviceFormat, value);
        if (SUCCEEDED(hr)) hr = store->Commit();
        store->Release();
    }
    return hr == S_FALSE ? AUDCLNT_E_UNSUPPORTED_FORMAT : hr;
}

int SetFormat(uint32_t index, unsigned bits, unsigned long rate) {
    if ((bits != 16 && bits != 24 && bits != 32) || rate < 8000 || rate > 384000) return Fail("bad format");
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IMMDeviceEnumerator* enumerator = nullptr;
    HRESULT hr = sim::CreateDeviceEnumerator(__uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator));
    if (FAILED(hr)) {
        if (SUCCEEDED(com)) CoUninitialize();
        return Fail("no device enumerator");
    }
    IMMDevice* device = nullptr;
    hr = enumerator->GetDevice(sim::Endpoint(index).id, &device);
    if (SUCCEEDED(hr)) {
        WAVEFORMATEXTENSIBLE f = {};
        f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        f.Format.nChannels = 2;
        f.Format.nSamplesPerSec = rate;
        f.Format.wBitsPerSample = static_cast<WORD>(bits);
        f.Format.nBlockAlign = static_cast<WORD>(2 * bits / 8);
        f.Format.nAvgBytesPerSec = f.Format.nBlockAlign * rate;
        f.Format.cbSize = sizeof(f) - sizeof(WAVEFORMATEX);
        f.Samples.wValidBitsPerSample = static_cast<WORD>(bits);
        f.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
        f.SubFormat = kKsDataFormatSubtypePcm;
        hr = WriteFormat(device, f);
        device->Release();
    }
    enumerator->Release();
    if (SUCCEEDED(com)) CoUninitialize();
    if (FAILED(hr)) {
        std::fprintf(stderr, "velmor-sim: the format was refused (0x%08lX)\n", static_cast<unsigned long>(hr));
        return 1;
    }
    return 0;
}

// "state ENDPOINT WORD" and "set endpoint-arrival MS [SPACING]".
int SetArrivalOrState(const std::vector<std::string>& args, sim::SharedState& state) {
    if (args[0] == "state") {
        uint32_t index = 0;
        if (args.size() != 3 || !EndpointByName(args[1], index)) return -2;
        const char* const names[] = {"active", "disabled", "unplugged"};
        for (uint32_t n = 0; n < 3; ++n) {
            if (args[2] == names[n]) return FAILED(sim::SetEndpointUserState(index, sim::EndpointUserState(n))) ? 1 : 0;
        }
        return -2;
    }
    if (args.size() < 3 || args.size() > 4) return -2;
    unsigned long values[2] = {0, 0};
    for (size_t n = 2; n < args.size(); ++n) {
        char* end = nullptr;
        values[n - 2] = std::strtoul(args[n].c_str(), &end, 10);
        if (args[n].empty() || *end || values[n - 2] > 60000) return -2;
    }
    sim::StateLock shared;
    sim::Endpoints(state).arrivalMs = static_cast<uint32_t>(values[0]);
    sim::Endpoints(state).arrivalSpacingMs = static_cast<uint32_t>(values[1]);
    return 0;
}

int Change(const std::vector<std::string>& args, sim::SharedState& state) {
    const std::string& command = args[0];
    uint32_t index = 0;
    if (command == "select" && args.size() == 2) {
        if (args[1] != "line" && args[1] != "spdif") return -2;
        if (!Active(state, sim::kDeviceLineIn)) return Fail("the device has no record inputs now");
        return FAILED(sim::SetRecordSelection(args[1] == "line" ? sim::kLineInFeedId : sim::kSpdifInFeedId)) ? 1 : 0;
    }
    if (args.size() < 3 || !EndpointByName(args[1], index)) return -2;
    if (!Active(state, index)) return Fail("the endpoint is not present");
    if (command == "volume" && args.size() <= 4) {
        float left = 0, right = 0;
        if (!ParseFloat(args[2], left) || !ParseFloat(args.size() == 4 ? args[3] : args[2], right)) return -2;
        sim::EndpointValues v = {};
        sim::ReadEndpoint(index, v);
        const float levels[2] = {left, right};
        for (uint32_t ch = 0; ch < sim::kEndpointChannels; ++ch) {
            const sim::LevelRange& range = v.range[ch];
            if (!(levels[ch] >= range.minimum && levels[ch] <= range.maximum)) {
                std::fprintf(stderr, "velmor-sim: the %s level goes from %.2f to %.2f dB\n", ch ? "right" : "left",
                             range.minimum, range.maximum);
                return 1;
            }
        }
        HRESULT hr = left == right ? sim::SetEndpointLevel(index, ~0u, left, nullptr)
                                   : sim::SetEndpointLevel(index, 0, left, nullptr);
        if (SUCCEEDED(hr) && left != right) hr = sim::SetEndpointLevel(index, 1, right, nullptr);
        return FAILED(hr) ? 1 : 0;
    }
    if (command == "range" && (args.size() == 5 || args.size() == 8)) {
        sim::LevelRange ranges[2];
        for (uint32_t ch = 0; ch < sim::kEndpointChannels; ++ch) {
            size_t at = args.size() == 8 ? 2 + 3 * ch : 2;
            if (!ParseFloat(args[at], ranges[ch].minimum) || !ParseFloat(args[at + 1], ranges[ch].maximum) ||
                !ParseFloat(args[at + 2], ranges[ch].step)) {
                return -2;
            }
        }
        for (uint32_t ch = 0; ch < sim::kEndpointChannels; ++ch) {
            if (FAILED(sim::SetEndpointRange(index, ch, ranges[ch]))) {
                return Fail("a range goes from MIN up to MAX in whole steps (MIN < MAX, 0 < STEP)");
            }
        }
        return 0;
    }
    if (command == "mute" && args.size() == 3) {
        uint32_t on = 0;
        if (!ParseOnOff(args[2], on)) return -2;
        return FAILED(sim::SetEndpointMute(index, on ? TRUE : FALSE, nullptr)) ? 1 : 0;
    }
    if (command == "format" && args.size() == 4) {
        char* end = nullptr;
        unsigned long bits = std::strtoul(args[2].c_str(), &end, 10);
        if (*end) return -2;
        unsigned long rate = std::strtoul(args[3].c_str(), &end, 10);
        if (*end) return -2;
        return SetFormat(index, static_cast<unsigned>(bits), rate);
    }
    return -2;
}

}  // namespace

int EndpointCommand(const std::vector<std::string>& args, bool json, sim::SharedState& state) {
    if (args.empty()) return -1;
    const std::string& command = args[0];
    if (command == "endpoints" && args.size() == 1) {
        std::fputs((json ? ListJson(state) : ListText(state)).c_str(), stdout);
        return 0;
    }
    int status = -1;
    if (command == "topology" && args.size() == 2) {
        for (uint32_t t = 0; t < sim::kTopologyCount; ++t) {
            if (args[1] != kTopologyNames[t]) continue;
            sim::StateLock shared;
            sim::Endpoints(state).topology = t;
            status = 0;
        }
        if (status != 0) return -2;
    } else if (command == "fault" && args.size() == 3 && args[1] == "fail-property-write") {
        uint32_t n = 0;
        if (args[2] != "off") {
            char* end = nullptr;
            unsigned long value = std::strtoul(args[2].c_str(), &end, 10);
            if (args[2].empty() || *end || value < 1 || value > kMaxFailingWrite) return -2;
            n = static_cast<uint32_t>(value);
        }
        sim::StateLock shared;
        sim::Endpoints(state).failPropertyWrite = n;
        status = 0;
    } else if (command == "fault" && args.size() == 3) {
        uint32_t sim::EndpointsState::*field = nullptr;
        if (args[1] == "refuse-property-write") field = &sim::EndpointsState::refusePropertyWrite;
        if (args[1] == "no-level-control") field = &sim::EndpointsState::noLevelControl;
        if (args[1] == "no-connector") field = &sim::EndpointsState::noConnector;
        if (args[1] == "commit-required") field = &sim::EndpointsState::commitRequired;
        if (!field) return -1;
        uint32_t on = 0;
        if (!ParseOnOff(args[2], on)) return -2;
        sim::StateLock shared;
        sim::Endpoints(state).*field = on;
        status = 0;
    } else if (command == "state" || (command == "set" && args.size() > 1 && args[1] == "endpoint-arrival")) {
        status = SetArrivalOrState(args, state);
    } else if (command == "volume" || command == "range" || command == "mute" || command == "select" ||
               command == "format") {
        status = Change(args, state);
    } else {
        return -1;
    }
    if (status == 0) std::fputs(json ? "{\"status\":\"ok\"}\n" : "ok\n", stdout);
    return status;
}
