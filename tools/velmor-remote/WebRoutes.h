// What the web remote accepts, without any socket: its routes, the checks
// every request passes (Host, origin, token, method, body size) and the
// panel requests that the routes become.
#pragma once

#include "WebOptions.h"

#include <cstddef>
#include <string>

constexpr size_t kWebBodyMax = 4096;

enum class WebRoute { Page, Status, Options, Playing, Events, Playback, Record, Asio, Unknown };

// The route of a path, and the one method it takes ("GET" or "POST").
WebRoute FindRoute(const std::string& path, const char** method);

// What the checks look at of a request.
struct WebRequestView {
    std::string method;
    std::string path;
    std::string host;            // Host header
    std::string origin;          // Origin header, empty when absent
    std::string fetchSite;       // Sec-Fetch-Site header, empty when absent
    std::string authorization;   // Authorization header
    std::string queryToken;      // ?token=
    bool hasLength = false;      // Content-Length present
    std::string length;          // its text
    bool hasTransferEncoding = false;
    std::string contentType;
};

struct WebRefusal {
    int status = 0;  // 0: accepted
    std::string message;
};

// The first check a request fails, in this order: Host (421), origin (403),
// token (401), route (404), method (405), body (411, 413, 415).
WebRefusal CheckWebRequest(const WebRequestView& request, const ServeOptions& options, uint16_t boundPort);

// The Host header names this server: its address (or "localhost" when it
// listens on loopback; any dotted address when it listens on all of them)
// with its port, the port left out only for port 80.
bool HostNamesServer(const std::string& host, const ServeOptions& options, uint16_t boundPort);

// The panel request of a GET route ("" for the page and the events).
std::string PanelRequestFor(WebRoute route);

// The set_ request of a POST body: a JSON object of the route's members
// (numbers as JSON integers or digit strings, "volume" an integer 0-100,
// clamped to maxVolume). false with a message otherwise.
bool BuildSetRequest(WebRoute route, const std::string& body, int maxVolume, std::string* request,
                     std::string* error);

// The HTTP status for a panel answer: 200 "ok", 409 "fail", 502 otherwise.
int StatusForAnswer(const std::string& answer);

// The answer's "output" member as JSON text, "{}" when it has none.
std::string AnswerOutput(const std::string& answer);
