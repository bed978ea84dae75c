#include "ChildProcess.h"

#include <vector>

namespace {

std::string OwnDirectory() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full(path, length);
    size_t slash = full.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
}

}  // namespace

ChildResult RunChild(const std::string& commandLine, DWORD timeoutMs) {
    ChildResult result;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    result.started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                    &process) != FALSE;
    CloseHandle(writeEnd);
    if (!result.started) {
        CloseHandle(readEnd);
        return result;
    }

    // Drain the pipe while the child runs so that it never blocks on a full pipe.
    DWORD start = GetTickCount();
    for (;;) {
        DWORD available = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) || got == 0) break;
            result.output.append(buffer, got);
        }
        if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) break;
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(process.hProcess, STILL_ACTIVE);
            WaitForSingleObject(process.hProcess, 5000);
            break;
        }
    }
    char buffer[4096];
    DWORD got = 0;
    // Only what is there: a process the child started may hold the pipe open for good.
    DWORD available = 0;
    while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        result.output.append(buffer, got);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(readEnd);

    std::string clean;
    for (char c : result.output) {
        if (c != '\r') clean += c;
    }
    result.output = clean;
    return result;
}

std::string SiblingProgram(const char* fileName) { return OwnDirectory() + fileName; }

std::string OtherArchProgram(const char* fileName) {
    std::string dir = OwnDirectory();
    const std::string mine = sizeof(void*) == 8 ? "win64" : "win32";
    const std::string other = sizeof(void*) == 8 ? "win32" : "win64";
    for (const char* sep : {"\\", "/"}) {
        std::string key = sep + mine + sep;
        size_t at = dir.rfind(key);
        if (at == std::string::npos) continue;
        std::string path = dir.substr(0, at) + sep + other + sep + dir.substr(at + key.size()) + fileName;
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
    }
    return std::string();
}
