// velmor-remote: the controller side of the panel's remote control, for
// people and scripts. Exit status 0 on "ok", 1 on "fail" or no answer, 2
// on bad usage.
#include "RemoteRequests.h"
#include "WebServer.h"

#include "remote/RemoteClient.h"
#include "remote/RemoteIds.h"

#include <iphlpapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFail = 1;
constexpr int kExitUsage = 2;

int Usage(const std::string& error) {
    std::fprintf(stderr, "velmor-remote: %s\n%s", error.c_str(), kUsage);
    return kExitUsage;
}

int NoAnswer(const CommandLine& line) {
    std::fprintf(stderr, "velmor-remote: no answer from %s:%d within %d ms\n", line.host.c_str(), line.port,
                 line.timeoutMs);
    return kExitFail;
}

int Probe(RemoteClient& client, uint32_t host, const CommandLine& line) {
    std::string reply;
    sockaddr_in from = {};
    if (!client.Send(host, static_cast<uint16_t>(line.port), "", 0) ||
        !client.Receive(host, line.timeoutMs, &reply, &from)) {
        return NoAnswer(line);
    }
    std::string address = FormatIPv4(ntohl(from.sin_addr.s_addr));
    if (line.json) {
        std::printf("%s\n", PanelJson(address, line.port).c_str());
    } else {
        std::printf("panel at %s (port %d)\n", address.c_str(), line.port);
    }
    return kExitOk;
}

int Listen(const CommandLine& line) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return kExitFail;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(line.port));
    int result = kExitFail;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        std::fprintf(stderr, "velmor-remote: cannot listen on port %d\n", line.port);
    } else {
        DWORD start = GetTickCount();
        for (;;) {
            DWORD elapsed = GetTickCount() - start;
            if (elapsed >= static_cast<DWORD>(line.timeoutMs)) {
                std::fprintf(stderr, "velmor-remote: no notification on port %d within %d ms\n", line.port,
                             line.timeoutMs);
                break;
            }
            DWORD left = line.timeoutMs - elapsed;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            timeval wait = {static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
            if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
            char buffer[2048];
            sockaddr_in from = {};
            int fromLength = sizeof(from);
            int n = recvfrom(s, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n != kControllerNotifyLength || std::memcmp(buffer, kControllerNotifyWord, n) != 0) continue;
            std::string address = FormatIPv4(ntohl(from.sin_addr.s_addr));
            if (line.json) {
                std::printf("%s\n", PanelJson(address, ntohs(from.sin_port)).c_str());
            } else {
                std::printf("%s from %s:%d\n", kControllerNotifyWord, address.c_str(), ntohs(from.sin_port));
            }
            result = kExitOk;
            break;
        }
    }
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return result;
}

WebServer* g_serving = nullptr;

BOOL WINAPI EndServing(DWORD) {
    if (g_serving) g_serving->Stop();
    return TRUE;
}

int Serve(const CommandLine& line) {
    ServeOptions options;
    options.panelPort = static_cast<uint16_t>(line.port);
    options.timeoutMs = line.timeoutMs;
    std::string error;
    if (!ResolveIPv4(line.host.c_str(), &options.panelAddress)) return Usage("unknown host '" + line.host + "'");
    if (!ParseServeOptions(line.arguments, &options, &error)) return Usage(error);
    WebServer server(options);
    if (!server.Bind()) {
        std::fprintf(stderr, "velmor-remote: cannot listen on %s:%d\n", options.httpHost.c_str(), options.httpPort);
        return kExitFail;
    }
    std::printf("velmor-remote: the web remote for the panel at %s:%d, volume up to %d\n",
                FormatIPv4(options.panelAddress).c_str(), options.panelPort, options.maxVolume);
    if (options.tokenMade) std::printf("velmor-remote: a token made for this run; it is part of the address\n");
    if (options.httpAddress == 0) {
        // Every address: one URL for each of the machine's adapters.
        std::printf("velmor-remote: listening on every address of this machine, port %d\n", server.Port());
        ULONG size = 0;
        std::vector<char> buffer;
        if (GetAdaptersInfo(nullptr, &size) == ERROR_BUFFER_OVERFLOW) buffer.resize(size);
        auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
        if (buffer.empty() || GetAdaptersInfo(info, &size) != NO_ERROR) info = nullptr;
        for (; info; info = info->Next) {
            std::string address = info->IpAddressList.IpAddress.String;
            if (address != "0.0.0.0") std::printf("open %s\n", server.Url(address).c_str());
        }
    }
    std::printf("open %s\n", server.Url(options.httpAddress == 0 ? "127.0.0.1" : "").c_str());
    std::fflush(stdout);
    g_serving = &server;
    SetConsoleCtrlHandler(EndServing, TRUE);
    bool served = server.Run();
    g_serving = nullptr;
    return served ? kExitOk : kExitFail;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    std::string error;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s", kUsage);
        return kExitOk;
    }
    if (!ParseCommandLine(argc, argv, &line, &error)) return Usage(error);
    if (line.command == "serve") return Serve(line);
    if (line.command == "listen") {
        if (!line.arguments.empty()) return Usage("listen takes no arguments");
        return Listen(line);
    }
    std::string request;
    if (line.command != "probe" && !BuildRequest(line, &request, &error)) return Usage(error);
    if (line.command == "probe" && !line.arguments.empty()) return Usage("probe takes no arguments");

    uint32_t host = 0;
    if (!ResolveIPv4(line.host.c_str(), &host)) return Usage("unknown host '" + line.host + "'");
    RemoteClient client;
    if (!client.Ready()) {
        std::fprintf(stderr, "velmor-remote: no UDP socket\n");
        return kExitFail;
    }
    if (line.command == "probe") return Probe(client, host, line);

    std::string answer;
    if (!client.Exchange(host, static_cast<uint16_t>(line.port), request, line.timeoutMs, &answer)) {
        return NoAnswer(line);
    }
    if (line.json) {
        std::printf("%s\n", answer.c_str());
    } else {
        std::printf("%s", DescribeAnswer(answer).c_str());
    }
    std::string status = AnswerStatus(answer);
    if (status == "ok") return kExitOk;
    if (status != "fail") std::fprintf(stderr, "velmor-remote: the answer is not a status document\n");
    else if (!line.json) std::fprintf(stderr, "velmor-remote: the panel answered \"fail\"\n");
    return kExitFail;
}
