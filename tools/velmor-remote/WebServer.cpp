#include "WebServer.h"

#include "PanelLink.h"
#include "WebPage.h"
#include "WebRoutes.h"

#include "remote/RemoteClient.h"

#include <httplib.h>

#include <atomic>
#include <memory>

namespace {

constexpr int kMaxListeners = 8;
constexpr size_t kWorkers = 16;  // event streams hold one each: room for them and the pages' requests
constexpr DWORD kPollMs = 500;
constexpr DWORD kHeartbeatMs = 5000;

const char kPlain[] = "text/plain; charset=utf-8";
const char kJson[] = "application/json";

}  // namespace

struct WebServer::Impl {
    explicit Impl(const ServeOptions& o)
        : options(o), link(o.panelAddress, o.panelPort, o.timeoutMs), page(LoadWebPage()) {}

    void Refuse(httplib::Response& res, int status, const std::string& message) {
        res.status = status;
        res.set_content(message + "\n", kPlain);
    }
    void PanelSilent(httplib::Response& res) {
        Refuse(res, 503, "the panel at " + link.Describe() + " does not answer");
    }
    void Answer(httplib::Response& res, const std::string& answer) {
        res.status = StatusForAnswer(answer);
        res.set_content(answer, kJson);
    }
    void Forward(WebRoute route, httplib::Response& res) {
        std::string answer;
        if (!link.Exchange(PanelRequestFor(route), &answer)) return PanelSilent(res);
        if (route != WebRoute::Options) return Answer(res, answer);
        // What can be chosen, and the cap that the page shows.
        res.status = StatusForAnswer(answer);
        res.set_content(R"({"output":)" + AnswerOutput(answer) +
                            R"(,"max_volume":)" + std::to_string(options.maxVolume) + "}",
                        kJson);
    }
    void Set(WebRoute route, const httplib::Request& req, httplib::Response& res) {
        std::string request;
        std::string error;
        if (!BuildSetRequest(route, req.body, options.maxVolume, &request, &error)) return Refuse(res, 400, error);
        std::string answer;
        if (!link.Exchange(request, &answer)) return PanelSilent(res);
        Answer(res, answer);
    }
    void Events(httplib::Response& res);
    httplib::Server::HandlerResponse Check(const httplib::Request& req, httplib::Response& res);

    ServeOptions options;
    PanelLink link;
    std::string page;
    httplib::Server server;
    uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};  // in Run
    std::atomic<int> listeners{0};
};

httplib::Server::HandlerResponse WebServer::Impl::Check(const httplib::Request& req, httplib::Response& res) {
    WebRequestView view;
    view.method = req.method;
    view.path = req.path;
    view.host = req.get_header_value("Host");
    view.origin = req.get_header_value("Origin");
    view.fetchSite = req.get_header_value("Sec-Fetch-Site");
    view.authorization = req.get_header_value("Authorization");
    view.queryToken = req.get_param_value("token");
    view.hasLength = req.has_header("Content-Length");
    view.length = req.get_header_value("Content-Length");
    view.hasTransferEncoding = req.has_header("Transfer-Encoding");
    view.contentType = req.get_header_value("Content-Type");
    WebRefusal refusal = CheckWebRequest(view, options, port);
    if (refusal.status == 0) return httplib::Server::HandlerResponse::Unhandled;
    Refuse(res, refusal.status, refusal.message);
    if (refusal.status == 401) res.set_header("WWW-Authenticate", "Bearer");
    if (refusal.status == 405) {
        const char* method = nullptr;
        FindRoute(req.path, &method);
        res.set_header("Allow", method);
    }
    return httplib::Server::HandlerResponse::Handled;
}

void WebServer::Impl::Events(httplib::Response& res) {
    if (++listeners > kMaxListeners) {
        --listeners;
        return Refuse(res, 503, "too many pages listen at once");
    }
    struct Stream {
        std::string last;
        DWORD lastWrite = 0;
        DWORD lastPoll = 0;
        bool started = false;
    };
    auto stream = std::make_shared<Stream>();
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](size_t, httplib::DataSink& sink) {
            if (stream->started) {
                // Until one poll period after the last poll began, in slices, so that Stop ends the stream soon.
                while (GetTickCount() - stream->lastPoll < kPollMs && !stopping) Sleep(20);
            }
            stream->lastPoll = GetTickCount();
            if (stopping) {
                sink.done();
                return true;
            }
            std::string state = link.State(kPollMs - 50);
            std::string text;
            if (!stream->started || state != stream->last) {
                text = (stream->started ? "" : "retry: 2000\n") + std::string("event: status\ndata: ") + state + "\n\n";
            } else if (GetTickCount() - stream->lastWrite >= kHeartbeatMs) {
                text = ": still here\n\n";  // finds a page that went away
            }
            stream->started = true;
            stream->last = state;
            if (text.empty()) return true;
            stream->lastWrite = GetTickCount();
            return sink.write(text.data(), text.size());
        },
        [this](bool) { --listeners; });
}

WebServer::WebServer(const ServeOptions& options) : m(new Impl(options)) {
    httplib::Server& s = m->server;
    s.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    s.set_socket_options([](socket_t sock) {
        // Nobody else may take the port while it is served.
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof(yes));
    });
    s.set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
         "img-src data:; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"},
    });
    s.set_payload_max_length(kWebBodyMax);
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) { return m->Check(req, res); });
    s.Get("/", [this](const httplib::Request&, httplib::Response& res) {
        if (m->page.empty()) return m->Refuse(res, 500, "the page is missing from the program");
        res.set_content(m->page, "text/html; charset=utf-8");
    });
    s.Get("/api/status", [this](const httplib::Request&, httplib::Response& res) { m->Forward(WebRoute::Status, res); });
    s.Get("/api/options",
          [this](const httplib::Request&, httplib::Response& res) { m->Forward(WebRoute::Options, res); });
    s.Get("/api/playing",
          [this](const httplib::Request&, httplib::Response& res) { m->Forward(WebRoute::Playing, res); });
    s.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) { m->Events(res); });
    s.Post("/api/playback",
           [this](const httplib::Request& req, httplib::Response& res) { m->Set(WebRoute::Playback, req, res); });
    s.Post("/api/record",
           [this](const httplib::Request& req, httplib::Response& res) { m->Set(WebRoute::Record, req, res); });
    s.Post("/api/asio",
           [this](const httplib::Request& req, httplib::Response& res) { m->Set(WebRoute::Asio, req, res); });
}

WebServer::~WebServer() { Stop(); }

bool WebServer::Bind() {
    std::string host = FormatIPv4(m->options.httpAddress);
    int port = m->options.httpPort == 0 ? m->server.bind_to_any_port(host)
                                         : (m->server.bind_to_port(host, m->options.httpPort) ? m->options.httpPort : -1);
    if (port <= 0) return false;
    m->port = static_cast<uint16_t>(port);
    return true;
}

uint16_t WebServer::Port() const { return m->port; }

std::string WebServer::Url(const std::string& host) const {
    std::string url = "http://" + (host.empty() ? m->options.httpHost : host) + ":" + std::to_string(m->port) + "/";
    if (!m->options.token.empty()) url += "?token=" + m->options.token;
    return url;
}

bool WebServer::Run() {
    m->running = true;
    bool served = m->port != 0 && !m->stopping && m->server.listen_after_bind();
    m->running = false;
    return served;
}

void WebServer::Stop() {
    m->stopping = true;
    // A stop before the server listens would be lost: wait for it to listen.
    while (m->running && !m->server.is_running()) Sleep(1);
    m->server.stop();
}

std::string LoadWebPage() {
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_WEB_PAGE), MAKEINTRESOURCEA(10));  // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return data ? std::string(data, SizeofResource(nullptr, found)) : std::string();
}
