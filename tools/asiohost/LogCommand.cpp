#include "LogCommand.h"

#include "asio/DriverLog.h"

#include <windows.h>

#include <cstdio>

namespace {

std::string LogPath() {
    char folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("USERPROFILE", folder, sizeof(folder));
    if (length == 0 || length >= sizeof(folder)) return "";
    return std::string(folder) + "\\" + driverlog::kLogFileName;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool Print(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char chunk[16384];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got) std::fwrite(chunk, 1, got, stdout);
    CloseHandle(file);
    return true;
}

}  // namespace

int LogCommand(const std::string& action) {
    const std::string path = LogPath();
    if (path.empty()) {
        std::fprintf(stderr, "asiohost: no user folder (USERPROFILE) for the log\n");
        return 1;
    }
    const std::string older = path + ".1";
    if (action == "on") {
        if (!Exists(path)) {
            HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                std::fprintf(stderr, "asiohost: cannot create %s (error %lu)\n", path.c_str(), GetLastError());
                return 1;
            }
            CloseHandle(file);
        }
        std::printf("log on: %s\nprograms that load the driver from now on write to it\n", path.c_str());
        return 0;
    }
    if (action == "off") {
        bool failed = (Exists(path) && !DeleteFileA(path.c_str())) || (Exists(older) && !DeleteFileA(older.c_str()));
        if (failed) {
            std::fprintf(stderr, "asiohost: cannot remove %s (error %lu)\n", path.c_str(), GetLastError());
            return 1;
        }
        std::printf("log off: %s removed\n", path.c_str());
        return 0;
    }
    if (action == "show") {
        if (!Exists(path) && !Exists(older)) {
            std::printf("the log is off (no %s); \"asiohost log on\" switches it on\n", path.c_str());
            return 0;
        }
        if (Exists(older)) Print(older);
        Print(path);
        return 0;
    }
    return 2;
}
