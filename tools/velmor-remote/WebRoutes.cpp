#include "WebRoutes.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstring>
#include <set>

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

struct RouteEntry {
    const char* path;
    const char* method;
    WebRoute route;
};

const RouteEntry kRoutes[] = {
    {"/", "GET", WebRoute::Page},
    {"/api/status", "GET", WebRoute::Status},
    {"/api/options", "GET", WebRoute::Options},
    {"/api/playing", "GET", WebRoute::Playing},
    {"/api/events", "GET", WebRoute::Events},
    {"/api/playback", "POST", WebRoute::Playback},
    {"/api/record", "POST", WebRoute::Record},
    {"/api/asio", "POST", WebRoute::Asio},
};

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Compares without stopping at the first difference.
bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool IsDigits(const std::string& text, size_t maxLength) {
    if (text.empty() || text.size() > maxLength) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::string FormatDotted(uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." + std::to_string((a >> 8) & 255) +
           "." + std::to_string(a & 255);
}

bool IsDottedAddress(const std::string& text) {
    int parts = 0;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('.', start);
        std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!IsDigits(piece, 3) || std::stoi(piece) > 255) return false;
        ++parts;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts == 4;
}

enum class MemberKind { Digits, Volume, Resource };

struct SetMember {
    const char* name;
    MemberKind kind;
};

}  // namespace

WebRoute FindRoute(const std::string& path, const char** method) {
    for (const RouteEntry& entry : kRoutes) {
        if (path == entry.path) {
            if (method) *method = entry.method;
            return entry.route;
        }
    }
    if (method) *method = nullptr;
    return WebRoute::Unknown;
}

bool HostNamesServer(const std::string& host, const ServeOptions& options, uint16_t boundPort) {
    std::string name = Lower(host);
    std::string port;
    size_t colon = name.rfind(':');
    if (colon != std::string::npos) {
        port = name.substr(colon + 1);
        name = name.substr(0, colon);
        if (!IsDigits(port, 5) || std::stoi(port) != boundPort) return false;
    } else if (boundPort != 80) {
        return false;
    }
    if (options.httpAddress == 0) return name == "localhost" || IsDottedAddress(name);
    if (name == FormatDotted(options.httpAddress)) return true;
    return IsLoopback(options.httpAddress) && name == "localhost";
}

WebRefusal CheckWebRequest(const WebRequestView& request, const ServeOptions& options, uint16_t boundPort) {
    if (!HostNamesServer(request.host, options, boundPort)) {
        return {421, "the Host header does not name this server"};
    }
    // Only the page itself: no other site's page may call the API. A link
    // from elsewhere may still open the page.
    std::string site = Lower(request.fetchSite);
    bool page = request.path == "/" && (request.method == "GET" || request.method == "HEAD");
    if ((!request.origin.empty() && Lower(request.origin) != "http://" + Lower(request.host)) ||
        (!page && !site.empty() && site != "same-origin" && site != "none")) {
        return {403, "requests from other origins are refused"};
    }
    if (!options.token.empty()) {
        std::string bearer;
        if (Lower(request.authorization.substr(0, 7)) == "bearer ") bearer = request.authorization.substr(7);
        if (!SameSecret(request.queryToken, options.token) && !SameSecret(bearer, options.token)) {
            return {401, "a token is needed: open the address the server printed"};
        }
    }
    const char* method = nullptr;
    WebRoute route = FindRoute(request.path, &method);
    if (route == WebRoute::Unknown) return {404, "no such page"};
    if (request.method != method && !(request.method == "HEAD" && std::strcmp(method, "GET") == 0)) {
        return {405, std::string("this address takes ") + method};
    }
    if (std::strcmp(method, "GET") == 0) {
        bool bodyless = !request.hasTransferEncoding && (!request.hasLength || request.length == "0");
        return bodyless ? WebRefusal{} : WebRefusal{413, "a GET request carries no body"};
    }
    if (request.hasTransferEncoding || !request.hasLength) return {411, "a body needs its Content-Length"};
    if (!IsDigits(request.length, 9) || std::stoul(request.length) > kWebBodyMax) {
        return {413, "the body is larger than 4 KB"};
    }
    std::string type = Lower(request.contentType);
    if (type.compare(0, 16, "application/json") != 0) return {415, "the body must be application/json"};
    return {};
}

std::string PanelRequestFor(WebRoute route) {
    switch (route) {
    case WebRoute::Status: return R"({"api":"get_status"})";
    case WebRoute::Options: return R"({"api":"get_data"})";
    case WebRoute::Playing: return R"({"api":"get_playing_status"})";
    default: return "";
    }
}

bool BuildSetRequest(WebRoute route, const std::string& body, int maxVolume, std::string* request,
                     std::string* error) {
    static const SetMember kPlayback[] = {
        {"rate", MemberKind::Digits}, {"bit", MemberKind::Digits}, {"volume", MemberKind::Volume}};
    static const SetMember kRecord[] = {{"rate", MemberKind::Digits},
                                        {"bit", MemberKind::Digits},
                                        {"volume", MemberKind::Volume},
                                        {"resource", MemberKind::Resource}};
    static const SetMember kAsio[] = {{"buffer_size", MemberKind::Digits}, {"bit", MemberKind::Digits}};
    const SetMember* members = nullptr;
    size_t count = 0;
    const char* api = nullptr;
    switch (route) {
    case WebRoute::Playback: members = kPlayback, count = 3, api = "set_playback_status"; break;
    case WebRoute::Record: members = kRecord, count = 4, api = "set_record_status"; break;
    case WebRoute::Asio: members = kAsio, count = 2, api = "set_asio_status"; break;
    default: *error = "not a setting"; return false;
    }
    rapidjson::Document d;
    d.Parse(body.data(), body.size());
    if (d.HasParseError() || !d.IsObject()) {
        *error = "the body must be one JSON object";
        return false;
    }
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartObject();
    w.Key("api");
    w.String(api);
    w.Key("input");
    w.StartObject();
    std::set<std::string> seen;
    for (auto m = d.MemberBegin(); m != d.MemberEnd(); ++m) {
        std::string name(m->name.GetString(), m->name.GetStringLength());
        const SetMember* member = nullptr;
        for (size_t k = 0; k < count; ++k) {
            if (name == members[k].name) member = &members[k];
        }
        if (!member) {
            *error = "unknown member \"" + name + "\"";
            return false;
        }
        if (!seen.insert(name).second) {
            *error = "\"" + name + "\" given twice";
            return false;
        }
        const rapidjson::Value& v = m->value;
        w.Key(member->name);
        if (member->kind == MemberKind::Digits) {
            std::string digits;
            if (v.IsUint()) digits = std::to_string(v.GetUint());
            else if (v.IsString()) digits.assign(v.GetString(), v.GetStringLength());
            if (!IsDigits(digits, 9)) {
                *error = "\"" + name + "\" needs a whole number";
                return false;
            }
            w.String(std::to_string(std::stoul(digits)).c_str());
        } else if (member->kind == MemberKind::Volume) {
            if (!v.IsInt() || v.GetInt() < 0 || v.GetInt() > kWebVolumeMax) {
                *error = "\"volume\" needs a whole number 0-100";
                return false;
            }
            w.Int(v.GetInt() > maxVolume ? maxVolume : v.GetInt());
        } else {
            std::string text = v.IsString() ? std::string(v.GetString(), v.GetStringLength()) : "";
            if (text != "Line In" && text != "SPDIF Rx") {
                *error = "\"resource\" is \"Line In\" or \"SPDIF Rx\"";
                return false;
            }
            w.String(text.c_str());
        }
    }
    w.EndObject();
    w.EndObject();
    request->assign(buffer.GetString(), buffer.GetSize());
    return true;
}

int StatusForAnswer(const std::string& answer) {
    rapidjson::Document d;
    d.Parse<rapidjson::kParseStopWhenDoneFlag>(answer.data(), answer.size());
    if (d.HasParseError() || !d.IsObject()) return 502;
    auto status = d.FindMember("status");
    if (status == d.MemberEnd() || !status->value.IsString()) return 502;
    std::string word(status->value.GetString(), status->value.GetStringLength());
    return word == "ok" ? 200 : word == "fail" ? 409 : 502;
}

std::string AnswerOutput(const std::string& answer) {
    rapidjson::Document d;
    d.Parse<rapidjson::kParseStopWhenDoneFlag>(answer.data(), answer.size());
    if (d.HasParseError() || !d.IsObject()) return "{}";
    auto output = d.FindMember("output");
    if (output == d.MemberEnd() || !output->value.IsObject()) return "{}";
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    output->value.Accept(w);
    return std::string(buffer.GetString(), buffer.GetSize());
}
