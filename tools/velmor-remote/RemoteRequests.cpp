#include "RemoteRequests.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

const char kUsage[] =
    "usage: velmor-remote [--host H] [--port P] [--timeout MS] [--json] COMMAND\n"
    "commands:\n"
    "  probe                      empty datagram; prints the panel's address\n"
    "  status | data | playing    get_status, get_data, get_playing_status\n"
    "  vol-up | vol-down          press the device's volume key\n"
    "  set-playback [--rate HZ] [--bit N] [--volume 0-100]\n"
    "  set-record [--rate HZ] [--bit N] [--volume 0-100] [--resource \"Line In\"|\"SPDIF Rx\"]\n"
    "  set-asio [--buffer-ms MS] [--bit N]\n"
    "  send JSON                  a raw request\n"
    "  listen                     wait for a panel's notification broadcast on the port\n"
    "  serve [--http ADDR:PORT] [--panel HOST:PORT] [--max-volume N] [--token T]\n"
    "                             the web remote: a page and an HTTP API on ADDR:PORT\n"
    "                             (127.0.0.1:8080) for the panel (--host:--port); another\n"
    "                             address than loopback needs the token (made when not given)\n"
    "exit status: 0 ok, 1 fail or no answer, 2 bad usage\n";

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

bool ParseNumber(const std::string& text, long minimum, long maximum, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno || *end || parsed < minimum || parsed > maximum) return false;
    *value = parsed;
    return true;
}

struct InputOption {
    const char* option;
    const char* member;
    enum { Digits, Integer, Text } kind;
};

// Writes {"api":api,"input":{...}} from "--option value" pairs.
bool BuildSet(const char* api, const InputOption* options, size_t count, const std::vector<std::string>& args,
              std::string* request, std::string* error) {
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartObject();
    w.Key("api");
    w.String(api);
    w.Key("input");
    w.StartObject();
    for (size_t i = 0; i < args.size(); i += 2) {
        const InputOption* found = nullptr;
        for (size_t k = 0; k < count; ++k) {
            if (args[i] == options[k].option) found = &options[k];
        }
        if (!found) {
            *error = "unknown option '" + args[i] + "' for this command";
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = args[i] + " needs a value";
            return false;
        }
        const std::string& value = args[i + 1];
        long number = 0;
        w.Key(found->member);
        if (found->kind == InputOption::Integer) {
            if (!ParseNumber(value, -2147483647L - 1, 2147483647L, &number)) {
                *error = args[i] + " needs an integer, not '" + value + "'";
                return false;
            }
            w.Int(static_cast<int>(number));
        } else if (found->kind == InputOption::Digits) {
            if (!ParseNumber(value, 0, 2147483647L, &number)) {
                *error = args[i] + " needs a decimal number, not '" + value + "'";
                return false;
            }
            w.String(std::to_string(number).c_str());
        } else {
            w.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
        }
    }
    w.EndObject();
    w.EndObject();
    request->assign(buffer.GetString(), buffer.GetSize());
    return true;
}

std::string Plain(const char* api) {
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartObject();
    w.Key("api");
    w.String(api);
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

void Describe(const rapidjson::Value& value, const std::string& path, std::string* out) {
    if (value.IsObject()) {
        for (auto m = value.MemberBegin(); m != value.MemberEnd(); ++m) {
            std::string name(m->name.GetString(), m->name.GetStringLength());
            Describe(m->value, path.empty() ? name : path + "." + name, out);
        }
        return;
    }
    std::string text;
    if (value.IsArray()) {
        for (auto& item : value.GetArray()) {
            if (!text.empty()) text += " ";
            if (item.IsString()) text.append(item.GetString(), item.GetStringLength());
        }
    } else if (value.IsString()) {
        text.assign(value.GetString(), value.GetStringLength());
    } else if (value.IsInt64()) {
        text = std::to_string(value.GetInt64());
    }
    *out += path + ": " + text + "\n";
}

}  // namespace

bool ParseCommandLine(int argc, char** argv, CommandLine* line, std::string* error) {
    int i = 1;
    for (; i < argc && line->command.empty(); ++i) {
        std::string arg = argv[i];
        long value = 0;
        if (arg == "--json") {
            line->json = true;
        } else if (arg == "--host" || arg == "--port" || arg == "--timeout") {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            std::string next = argv[++i];
            if (arg == "--host") {
                line->host = next;
            } else if (arg == "--port") {
                if (!ParseNumber(next, 1, 65535, &value)) {
                    *error = "--port needs a port 1-65535, not '" + next + "'";
                    return false;
                }
                line->port = static_cast<int>(value);
            } else {
                if (!ParseNumber(next, 1, 600000, &value)) {
                    *error = "--timeout needs milliseconds 1-600000, not '" + next + "'";
                    return false;
                }
                line->timeoutMs = static_cast<int>(value);
            }
        } else if (!arg.empty() && arg[0] == '-') {
            *error = "unknown option '" + arg + "'";
            return false;
        } else {
            line->command = arg;
        }
    }
    if (line->command.empty()) {
        *error = "no command given";
        return false;
    }
    for (; i < argc; ++i) line->arguments.push_back(argv[i]);
    return true;
}

bool BuildRequest(const CommandLine& line, std::string* request, std::string* error) {
    static const InputOption kPlayback[] = {{"--rate", "rate", InputOption::Digits},
                                            {"--bit", "bit", InputOption::Digits},
                                            {"--volume", "volume", InputOption::Integer}};
    static const InputOption kRecord[] = {{"--rate", "rate", InputOption::Digits},
                                          {"--bit", "bit", InputOption::Digits},
                                          {"--volume", "volume", InputOption::Integer},
                                          {"--resource", "resource", InputOption::Text}};
    static const InputOption kAsio[] = {{"--buffer-ms", "buffer_size", InputOption::Digits},
                                        {"--bit", "bit", InputOption::Digits}};
    static const struct {
        const char* command;
        const char* api;
    } kPlain[] = {{"status", "get_status"}, {"data", "get_data"},   {"playing", "get_playing_status"},
                  {"vol-up", "vol_up"},     {"vol-down", "vol_down"}};

    const std::string& c = line.command;
    for (const auto& plain : kPlain) {
        if (c == plain.command) {
            if (!line.arguments.empty()) {
                *error = c + " takes no arguments";
                return false;
            }
            *request = Plain(plain.api);
            return true;
        }
    }
    if (c == "set-playback") return BuildSet("set_playback_status", kPlayback, 3, line.arguments, request, error);
    if (c == "set-record") return BuildSet("set_record_status", kRecord, 4, line.arguments, request, error);
    if (c == "set-asio") return BuildSet("set_asio_status", kAsio, 2, line.arguments, request, error);
    if (c == "send") {
        if (line.arguments.size() != 1) {
            *error = "send takes one JSON text";
            return false;
        }
        *request = line.arguments[0];
        return true;
    }
    *error = "unknown command '" + c + "'";
    return false;
}

std::string AnswerStatus(const std::string& answer) {
    rapidjson::Document d;
    d.Parse<rapidjson::kParseStopWhenDoneFlag>(answer.data(), answer.size());
    if (d.HasParseError() || !d.IsObject()) return "";
    auto status = d.FindMember("status");
    if (status == d.MemberEnd() || !status->value.IsString()) return "";
    return std::string(status->value.GetString(), status->value.GetStringLength());
}

std::string DescribeAnswer(const std::string& answer) {
    rapidjson::Document d;
    d.Parse<rapidjson::kParseStopWhenDoneFlag>(answer.data(), answer.size());
    if (d.HasParseError() || !d.IsObject()) return answer + "\n";
    std::string out = "status: " + AnswerStatus(answer) + "\n";
    auto output = d.FindMember("output");
    if (output != d.MemberEnd()) Describe(output->value, "", &out);
    return out;
}

std::string PanelJson(const std::string& address, int port) {
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartObject();
    w.Key("panel");
    w.String(address.c_str());
    w.Key("port");
    w.Int(port);
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}
