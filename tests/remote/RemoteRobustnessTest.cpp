// Whatever a network sends: malformed, random and oversized datagrams,
// bounded in count and time, then a valid request is still answered.
#include "tests/remote/RemoteHost.h"

#include "remote/RemoteClient.h"
#include "remote/RemoteIds.h"

#include <gtest/gtest.h>
#include <psapi.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
const std::string kVelmor = R"({"api":"velmor"})";
const std::string kOk = R"({"status":"ok","output":{},"error":"no"})";
// 32-bit Wine may run emulated here: that side takes a tenth of the counts.
constexpr int kCountDivisor = sizeof(void*) == 8 ? 1 : 10;
// Every wait has its own bound, far above what a loaded machine needs.
constexpr DWORD kAnswerWaitMs = 30000;

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = kAnswerWaitMs) {
    for (DWORD start = GetTickCount();; Sleep(1)) {
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
    }
}

// Malformed and hostile texts, then random ones from the generator.
class DatagramMaker {
public:
    explicit DatagramMaker(uint32_t seed) : m_random(seed) {}

    std::string Next() {
        static const char* const kFixed[] = {
            "{", "}", "{\"api\"", "{\"api\":}", "[", "nul", "{\"api\":\"get_status\"", "\"\\u0000\"",
            "{\"api\":1e999999}", "{\"api\":-99999999999999999999999999}", "{\"status\":[]}", "{\"input\":{}}",
            "{\"api\":\"set_record_status\",\"input\":{\"resource\":\"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\"}}",
            "{\"api\":\"set_misc_status\",\"input\":{\"gpio\":{\"1\":1,\"1\":1,\"1\":1,\"1\":1,\"1\":1,\"1\":1,\"1\":1,\"1\":1,\"1\":1}}}",
            "{\"api\":\"set_playback_status\",\"input\":{\"volume\":1e308,\"rate\":\"99999999999999999999\"}}",
            "{\"api\":\"set_asio_status\",\"input\":null}", "{\"api\":\"\\ud800\"}", "\xff\xfe{}",
        };
        uint32_t pick = m_random() % 8;
        if (pick == 0) return kFixed[m_random() % (sizeof(kFixed) / sizeof(kFixed[0]))];
        if (pick == 1) {  // deep nesting
            size_t depth = 1 + m_random() % 990;
            return std::string(depth, m_random() % 2 ? '[' : '{');
        }
        if (pick == 2) {  // a huge number
            return "{\"api\":\"set_playback_status\",\"input\":{\"volume\":" + std::string(1 + m_random() % 900, '9') + "}}";
        }
        if (pick == 3) {  // a valid frame around random JSON values of the wrong type
            static const char* const kValues[] = {"1", "-1", "0.5", "true", "null", "[]", "{}", "\"x\"", "1e40"};
            auto value = [&] { return std::string(kValues[m_random() % 9]); };
            return "{\"api\":\"set_record_status\",\"input\":{\"rate\":" + value() + ",\"volume\":" + value() +
                   ",\"resource\":" + value() + "}}";
        }
        // Random bytes of 0 to 2000 (oversized ones are dropped by the service).
        size_t length = m_random() % 2001;
        std::string bytes(length, '\0');
        for (auto& c : bytes) c = static_cast<char>(m_random());
        return bytes;
    }

private:
    std::mt19937 m_random;
};

HRESULT CountAnswers(void* context, const void* data, int length, uint32_t, uint16_t) {
    auto* counts = static_cast<std::vector<std::string>*>(context);
    if (counts->size() < 4) counts->emplace_back(static_cast<const char*>(data), static_cast<size_t>(length));
    return S_OK;
}

TEST(RemoteRobustness, HundredThousandDatagramsThroughTheProtocol) {
    FakeRemotePanel panel;
    RemoteProtocol protocol(panel, panel);
    std::vector<std::string> answers;
    protocol.SetSender(CountAnswers, &answers);
    protocol.SetStatusBlockName("VelmorRemoteRobustnessNoBlock");
    DatagramMaker maker(20261208);
    std::vector<uint8_t> slot(kUdpSlotSize);
    PROCESS_MEMORY_COUNTERS before = {}, after = {};
    DWORD handlesBefore = 0, handlesAfter = 0;
    for (int i = 0; i < 100000 / kCountDivisor; ++i) {
        if (i == 100) {
            GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
            GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
        }
        std::string datagram = maker.Next();
        if (datagram.size() > static_cast<size_t>(kUdpMaxPayload)) continue;  // never delivered
        std::fill(slot.begin(), slot.end(), 0);
        std::memcpy(slot.data() + kUdpSlotPayloadOffset, datagram.data(), datagram.size());
        protocol.HandleDatagram(slot.data(), slot.size());
        panel.log.clear();
        panel.shownAddresses.clear();
        answers.clear();
    }
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    EXPECT_LE(handlesAfter, handlesBefore + 4);
    EXPECT_LT(after.PagefileUsage, before.PagefileUsage + 16 * 1024 * 1024);
    protocol.HandleRemoteCommand(kVelmor.data(), kVelmor.size(), kLoopback, 0);
    ASSERT_EQ(1u, answers.size());
    EXPECT_EQ(kOk, answers[0]);
}

TEST(RemoteRobustness, MalformedDatagramsOverUdpThenAValidRequest) {
    RemoteHost host;
    ASSERT_EQ(S_OK, host.StartResult());
    SOCKET service = INVALID_SOCKET;
    host.Invoke([&](FakeRemotePanel&, RemoteProtocol&, UdpService& udp) { service = udp.socket; });
    RemoteClient client;
    DatagramMaker maker(7);
    std::string answer;
    // Each datagram waits for the service to have taken the one before (a
    // loaded machine serves at any rate), and every 100th is a request whose
    // answer must come. Its answer is one no malformed datagram gets (some
    // get "ok"): every answer before it is read, so none pile up in this
    // socket's buffer until it drops one.
    const std::string checkpoint = R"({"api":"vol_up"})";
    const std::string checkpointAnswer = R"({"status":"ok","output":{"playback":{"volume":""}},"error":"no"})";
    for (int i = 0; i < 3000 / kCountDivisor; ++i) {
        ASSERT_TRUE(WaitUntil([&] {
            u_long queued = 1;
            return ioctlsocket(service, FIONREAD, &queued) == 0 && queued == 0;
        })) << "step: the service takes datagram " << i;
        std::string datagram = maker.Next();
        client.Send(kLoopback, host.Port(), datagram.data(), static_cast<int>(datagram.size()));
        if (i % 100 == 99) {
            ASSERT_TRUE(client.Send(kLoopback, host.Port(), checkpoint.data(), static_cast<int>(checkpoint.size())));
            bool ok = false;
            while (!ok && client.Receive(kLoopback, kAnswerWaitMs, &answer)) ok = answer == checkpointAnswer;
            ASSERT_TRUE(ok) << "step: the answer to the request after datagram " << i;
        }
    }
    while (client.Receive(kLoopback, 200, &answer)) {
    }
    ASSERT_TRUE(client.Exchange(kLoopback, host.Port(), R"({"api":"get_status"})", kAnswerWaitMs, &answer))
        << "step: the last request";
    EXPECT_EQ(0u, answer.find(R"({"status":"ok","output":{"playback":{"rate":"44100")"));
}

TEST(RemoteRobustness, FloodOfValidRequestsLosesNoAnswer) {
    RemoteHost host;
    ASSERT_EQ(S_OK, host.StartResult());
    RemoteClient client;
    constexpr int kRequests = 10000 / kCountDivisor;
    constexpr int kInFlight = 32;
    const std::string request = R"({"api":"get_status"})";
    int sent = 0, received = 0;
    std::string answer;
    DWORD start = GetTickCount();
    while (received < kRequests && GetTickCount() - start < 600000) {
        while (sent < kRequests && sent - received < kInFlight) {
            ASSERT_TRUE(client.Send(kLoopback, host.Port(), request.data(), static_cast<int>(request.size())));
            ++sent;
        }
        if (!client.Receive(kLoopback, kAnswerWaitMs, &answer)) break;
        ++received;
    }
    EXPECT_EQ(kRequests, received) << "step: the answer after " << received << " answers";
    // Every answer the panel sent arrived; and the panel answered each request.
    EXPECT_EQ(host.AnswersSent(), received);
    // The user-interface thread still answers at once.
    DWORD invoked = GetTickCount();
    host.Invoke([](FakeRemotePanel&, RemoteProtocol&, UdpService&) {});
    EXPECT_LT(GetTickCount() - invoked, 1000u);
}

}  // namespace
