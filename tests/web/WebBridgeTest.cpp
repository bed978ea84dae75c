// The web remote's server against a scripted panel on loopback: what each
// route sends the panel, the volume cap, and the requests it refuses (Host,
// origin, token, size, method, route), the panel's silence as 503, and the
// event stream.
#include "WebRoutes.h"
#include "WebServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A panel on 127.0.0.1 that keeps what it receives and answers by command.
class ScriptedPanel {
public:
    ScriptedPanel() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_socket = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof(local));
        int length = sizeof(local);
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length);
        port = ntohs(local.sin_port);
        DWORD slice = 50;  // the stop flag's latency
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&slice), sizeof(slice));
        m_thread = std::thread([this] { Serve(); });
    }
    ~ScriptedPanel() {
        m_stop = true;
        m_thread.join();
        closesocket(m_socket);
        WSACleanup();
    }
    std::vector<std::string> Received() {
        std::lock_guard<std::mutex> hold(lock);
        return received;
    }
    uint16_t port = 0;
    std::mutex lock;
    std::vector<std::string> received;
    std::string status = R"({"status":"ok","output":{"playback":{"rate":"96000","bit":"24","volume":"40"}},"error":"no"})";
    std::string setAnswer = R"({"status":"ok","output":{},"error":"no"})";
    std::atomic<bool> silent{false};

private:
    void Serve() {
        while (!m_stop) {
            char buffer[1024];
            sockaddr_in from = {};
            int fromLength = sizeof(from);
            int n = recvfrom(m_socket, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n <= 0 || silent) continue;
            std::string request(buffer, n), answer;
            {
                std::lock_guard<std::mutex> hold(lock);
                received.push_back(request);
                answer = request.find("\"get_") != std::string::npos ? status : setAnswer;
            }
            sendto(m_socket, answer.data(), static_cast<int>(answer.size()), 0, reinterpret_cast<sockaddr*>(&from),
                   fromLength);
        }
    }
    SOCKET m_socket = INVALID_SOCKET;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

int Code(const httplib::Result& result) { return result ? result->status : 0; }

class WebBridge : public ::testing::Test {
protected:
    void Start(const std::vector<std::string>& args, const char* address = "127.0.0.1") {
        options.panelPort = panel.port;
        options.timeoutMs = 300;
        std::vector<std::string> all = {"--http", address + std::string(":0")};
        all.insert(all.end(), args.begin(), args.end());
        std::string error;
        ASSERT_TRUE(ParseServeOptions(all, &options, &error)) << error;
        server.reset(new WebServer(options));
        ASSERT_TRUE(server->Bind());
        thread = std::thread([this] { server->Run(); });
        client.reset(new httplib::Client(options.httpHost, server->Port()));
        client->set_read_timeout(20);
    }
    void TearDown() override {
        if (server) server->Stop();
        if (thread.joinable()) thread.join();
    }
    httplib::Result Post(const std::string& path, const std::string& body, httplib::Headers headers = {}) {
        return client->Post(path.c_str(), headers, body, "application/json");
    }
    // The event stream's text until one of the texts shows up (20 s at most).
    std::string Events(const std::vector<std::string>& until,
                       const std::function<void(const std::string&)>& seen = nullptr) {
        std::string text;
        DWORD start = GetTickCount();
        client->Get("/api/events", [&](const char* data, size_t length) {
            text.append(data, length);
            if (seen) seen(text);
            if (GetTickCount() - start > 20000) return false;  // heartbeats call in every 5 s
            for (const std::string& u : until) {
                if (text.find(u) != std::string::npos) return false;
            }
            return true;
        });
        return text;
    }
    ScriptedPanel panel;
    ServeOptions options;
    std::unique_ptr<WebServer> server;
    std::thread thread;
    std::unique_ptr<httplib::Client> client;
};

TEST(WebOptions, OnlyLoopbackGoesWithoutAToken) {
    ServeOptions plain, alias, lan, all, given;
    std::string error;
    ASSERT_TRUE(ParseServeOptions({}, &plain, &error));
    EXPECT_EQ(0x7F000001u, plain.httpAddress);
    EXPECT_EQ(8080, plain.httpPort);
    EXPECT_TRUE(plain.token.empty());
    ASSERT_TRUE(ParseServeOptions({"--http", "127.0.0.2:9000"}, &alias, &error));
    EXPECT_TRUE(alias.token.empty());
    // Parsed only: nothing binds these addresses.
    ASSERT_TRUE(ParseServeOptions({"--http", "192.168.1.5:8080"}, &lan, &error));
    EXPECT_TRUE(lan.tokenMade);
    EXPECT_EQ(32u, lan.token.size());
    ASSERT_TRUE(ParseServeOptions({"--http", "0.0.0.0:8080"}, &all, &error));
    EXPECT_NE(lan.token, all.token);
    ASSERT_TRUE(ParseServeOptions({"--http", "10.0.0.7:80", "--token", "sofa-secret-1"}, &given, &error));
    EXPECT_EQ("sofa-secret-1", given.token);
    EXPECT_FALSE(given.tokenMade);
    for (auto bad : std::vector<std::vector<std::string>>{{"--http", "8080"}, {"--http", "256.1.1.1:80"},
                                                         {"--max-volume", "101"}, {"--token", "short"},
                                                         {"--panel", "127.0.0.1:0"}, {"--port", "1"}}) {
        ServeOptions o;
        EXPECT_FALSE(ParseServeOptions(bad, &o, &error)) << bad[0] << " " << bad[1];
    }
}

TEST(WebRoutes, BodiesBecomeSetRequestsWithTheCap) {
    std::string request, error;
    ASSERT_TRUE(BuildSetRequest(WebRoute::Playback, R"({"rate":96000,"bit":"24","volume":95})", 60, &request, &error));
    EXPECT_EQ(R"({"api":"set_playback_status","input":{"rate":"96000","bit":"24","volume":60}})", request);
    ASSERT_TRUE(BuildSetRequest(WebRoute::Record, R"({"resource":"SPDIF Rx","volume":30})", 60, &request, &error));
    EXPECT_EQ(R"({"api":"set_record_status","input":{"resource":"SPDIF Rx","volume":30}})", request);
    ASSERT_TRUE(BuildSetRequest(WebRoute::Asio, R"({"buffer_size":"20","bit":32})", 60, &request, &error));
    EXPECT_EQ(R"({"api":"set_asio_status","input":{"buffer_size":"20","bit":"32"}})", request);
    for (auto bad : {R"({"volume":"50"})", R"({"volume":101})", R"({"volume":-1})", R"({"volume":50.5})",
                     R"({"rate":"96k"})", R"({"mute":true})", R"({"volume":5,"volume":6})", R"([1])", R"({} x)"}) {
        EXPECT_FALSE(BuildSetRequest(WebRoute::Playback, bad, 100, &request, &error)) << bad;
    }
    EXPECT_FALSE(BuildSetRequest(WebRoute::Record, R"({"resource":"Mic"})", 100, &request, &error));
    EXPECT_FALSE(BuildSetRequest(WebRoute::Asio, R"({"volume":5})", 100, &request, &error));
}

TEST(WebRoutes, RefusalsInOrder) {
    ServeOptions o;
    o.token = "sofa-secret-1";
    auto check = [&](WebRequestView v) { return CheckWebRequest(v, o, 8080).status; };
    WebRequestView ok;
    ok.method = "GET", ok.path = "/api/status", ok.host = "127.0.0.1:8080", ok.queryToken = o.token;
    EXPECT_EQ(0, check(ok));
    WebRequestView v = ok;
    v.host = "localhost:8080";
    EXPECT_EQ(0, check(v));
    for (auto foreign : {"evil.example:8080", "127.0.0.1:8081", "127.0.0.1", "", "127.0.0.2:8080"}) {
        v.host = foreign;
        EXPECT_EQ(421, check(v)) << foreign;
    }
    v = ok, v.origin = "http://evil.example";
    EXPECT_EQ(403, check(v));
    v = ok, v.origin = "http://127.0.0.1:8080";
    EXPECT_EQ(0, check(v));
    v = ok, v.fetchSite = "cross-site";
    EXPECT_EQ(403, check(v));
    v = ok, v.queryToken = "sofa-secret-2";  // the rest of the token: ATokenOnALoopbackAlias
    EXPECT_EQ(401, check(v));
    v = ok, v.path = "/api/reboot";
    EXPECT_EQ(404, check(v));
    v = ok, v.method = "POST";
    EXPECT_EQ(405, check(v));
    v = ok, v.method = "POST", v.path = "/api/playback";
    EXPECT_EQ(411, check(v));
    v.hasLength = true, v.length = "4097", v.contentType = "application/json";
    EXPECT_EQ(413, check(v));
    v.length = "4096";
    EXPECT_EQ(0, check(v));
    v.contentType = "text/plain";
    EXPECT_EQ(415, check(v));
}

TEST_F(WebBridge, RoutesReachThePanelCappedAndAnswered) {
    Start({"--max-volume", "60"});
    auto page = client->Get("/");
    ASSERT_EQ(200, Code(page));
    EXPECT_NE(std::string::npos, page->body.find("id=\"volume\""));
    auto status = client->Get("/api/status");
    ASSERT_EQ(200, Code(status));
    EXPECT_NE(std::string::npos, status->body.find(R"("rate":"96000")")) << status->body;
    EXPECT_NE(std::string::npos, client->Get("/api/options")->body.find(R"("max_volume":60)"));
    EXPECT_EQ(200, Code(Post("/api/playback", R"({"volume":95})")));
    EXPECT_EQ(400, Code(Post("/api/playback", R"({"volume":"95"})")));
    panel.setAnswer = R"({"status":"fail","output":{},"error":"no"})";
    EXPECT_EQ(409, Code(Post("/api/asio", R"({"buffer_size":7})")));
    std::vector<std::string> sent = panel.Received();
    ASSERT_EQ(4u, sent.size());
    EXPECT_EQ(R"({"api":"get_status"})", sent[0]);
    EXPECT_EQ(R"({"api":"get_data"})", sent[1]);
    EXPECT_EQ(R"({"api":"set_playback_status","input":{"volume":60}})", sent[2]);
    EXPECT_EQ(R"({"api":"set_asio_status","input":{"buffer_size":"7"}})", sent[3]);
}

TEST_F(WebBridge, RefusesForeignHostsAndBodiesItWouldHaveToRead) {
    Start({});
    std::string port = std::to_string(server->Port());
    EXPECT_EQ(421, Code(client->Get("/api/status", {{"Host", "rebound.example:" + port}})));
    EXPECT_EQ(403, Code(Post("/api/playback", "{}", {{"Origin", "http://rebound.example:" + port}})));
    EXPECT_EQ(413, Code(Post("/api/playback", std::string(5000, ' '))));
    auto chunked = client->Post(
        "/api/playback",
        [](size_t, httplib::DataSink& sink) { return sink.write("{}", 2) && (sink.done(), true); },
        "application/json");
    EXPECT_EQ(411, Code(chunked));
    EXPECT_TRUE(panel.Received().empty());
}

TEST_F(WebBridge, ATokenOnALoopbackAlias) {
    Start({"--token", "sofa-secret-1"}, "127.0.0.2");
    EXPECT_EQ(401, Code(client->Get("/")));
    EXPECT_EQ(401, Code(client->Get("/api/status?token=sofa-secret-2")));
    EXPECT_EQ(200, Code(client->Get("/?token=sofa-secret-1")));
    EXPECT_EQ(200, Code(client->Get("/api/status", {{"Authorization", "Bearer sofa-secret-1"}})));
    EXPECT_EQ(1u, panel.Received().size());
}

TEST_F(WebBridge, ASilentPanelIs503WithinTheTimeout) {
    Start({});
    panel.silent = true;
    DWORD start = GetTickCount();
    auto reply = Post("/api/playback", R"({"volume":10})");
    ASSERT_EQ(503, Code(reply));
    EXPECT_NE(std::string::npos, reply->body.find("does not answer"));
    EXPECT_LT(GetTickCount() - start, 5000u);
}

TEST_F(WebBridge, EventsFollowThePanel) {
    Start({});
    // The panel's state changes once the first event is in.
    std::string stream = Events({"\"44100\""}, [this](const std::string& text) {
        if (text.find("96000") == std::string::npos) return;
        std::lock_guard<std::mutex> hold(panel.lock);
        panel.status = R"({"status":"ok","output":{"playback":{"rate":"44100","bit":"16","volume":"40"}},"error":"no"})";
    });
    size_t first = stream.find("event: status\ndata: {\"panel\":\"ok\"");
    ASSERT_NE(std::string::npos, first) << stream;
    EXPECT_LT(first, stream.find("96000"));
    EXPECT_LT(stream.find("96000"), stream.find("44100")) << "no second event within 20 s: " << stream;
    panel.silent = true;
    // "silent" when some test's panel window is up on this desktop.
    std::string gone = Events({R"({"panel":"gone"})", R"({"panel":"silent"})"});
    EXPECT_TRUE(gone.find(R"("panel":"gone")") != std::string::npos ||
                gone.find(R"("panel":"silent")") != std::string::npos) << gone;
}

}  // namespace
