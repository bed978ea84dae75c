#include "RemoteStartSwitch.h"

#include "RemoteIds.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

// The command line's words; quoted words keep their spaces.
std::string NextWord(const char*& p) {
    while (*p == ' ' || *p == '\t') ++p;
    std::string word;
    bool quoted = false;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
        if (*p == '"') {
            quoted = !quoted;
        } else {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        }
    }
    return word;
}

}  // namespace

RemoteSwitch ParseRemoteSwitch(const char* commandLine, uint16_t* port) {
    *port = kRemoteDefaultPort;
    if (!commandLine) return RemoteSwitch::Absent;
    static const char kSwitch[] = "/remote";
    const size_t length = sizeof(kSwitch) - 1;
    for (const char* p = commandLine; *p;) {
        std::string word = NextWord(p);
        if (word.compare(0, length, kSwitch) != 0) continue;
        if (word.size() == length) return RemoteSwitch::Start;
        if (word[length] != ':') continue;  // another switch that starts alike
        std::string digits = word.substr(length + 1);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
            return RemoteSwitch::Invalid;
        }
        unsigned long value = std::stoul(digits);
        if (value < 1 || value > 65535) return RemoteSwitch::Invalid;
        *port = static_cast<uint16_t>(value);
        return RemoteSwitch::Start;
    }
    return RemoteSwitch::Absent;
}
