// Remote-control round trips on loopback: requests per second and
// round-trip p50/p99/max of get_status and set_asio_status, with one and
// with four concurrent senders, against the service in a window thread.
#include "tests/remote/RemoteHost.h"

#include "device/StatusBlock.h"
#include "remote/RemoteClient.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr char kBlockName[] = "VelmorRemoteBenchBlock";

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

struct Run {
    std::vector<double> roundTripsMs;
    int lost = 0;
    double seconds = 0;
};

// Each sender sends its share one request at a time and times each answer.
Run Measure(uint16_t port, const std::string& request, int senders, int perSender) {
    std::vector<std::vector<double>> times(senders);
    std::atomic<int> lost{0};
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    std::vector<std::thread> threads;
    for (int s = 0; s < senders; ++s) {
        threads.emplace_back([&, s] {
            RemoteClient client;
            std::string answer;
            for (int i = 0; i < perSender; ++i) {
                LARGE_INTEGER sent, received;
                QueryPerformanceCounter(&sent);
                if (!client.Exchange(kLoopback, port, request, 2000, &answer)) {
                    ++lost;
                    continue;
                }
                QueryPerformanceCounter(&received);
                times[s].push_back(Seconds(sent, received) * 1000.0);
            }
        });
    }
    for (auto& t : threads) t.join();
    QueryPerformanceCounter(&end);
    Run run;
    for (auto& t : times) run.roundTripsMs.insert(run.roundTripsMs.end(), t.begin(), t.end());
    std::sort(run.roundTripsMs.begin(), run.roundTripsMs.end());
    run.lost = lost.load();
    run.seconds = Seconds(start, end);
    return run;
}

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    size_t index = std::min(sorted.size() - 1, static_cast<size_t>(p * double(sorted.size() - 1) + 0.5));
    return sorted[index];
}

void Print(const char* name, int senders, const Run& run) {
    double rate = run.seconds > 0 ? double(run.roundTripsMs.size()) / run.seconds : 0;
    std::printf("%-16s senders %d: %6zu answers %8.0f requests/s  round trip p50 %.3f ms  p99 %.3f ms  max %.3f ms"
                "  lost %d\n",
                name, senders, run.roundTripsMs.size(), rate, Percentile(run.roundTripsMs, 0.5),
                Percentile(run.roundTripsMs, 0.99), run.roundTripsMs.empty() ? 0 : run.roundTripsMs.back(), run.lost);
}

// The user-interface thread's share: one request handled and its answer sent
// (to a loopback socket nobody reads), without the receive path.
double HandlingMicroseconds(const std::string& request, int count) {
    FakeRemotePanel panel;
    panel.asio = true;
    RemoteProtocol protocol(panel, panel);
    protocol.SetStatusBlockName(kBlockName);
    RemoteClient sink;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) {
        protocol.HandleRemoteCommand(request.data(), request.size(), kLoopback, htons(sink.LocalPort()));
    }
    QueryPerformanceCounter(&end);
    return Seconds(start, end) * 1e6 / count;
}

}  // namespace

int main(int argc, char** argv) {
    int requests = argc > 1 ? std::max(100, std::atoi(argv[1])) : 4000;
    CStatusBlock block;
    if (FAILED(block.Open(kBlockName))) {
        std::fprintf(stderr, "remote_bench: no status block\n");
        return 1;
    }
    block.Write(&StatusBlockLayout::bufferSize, 100);
    block.Write(&StatusBlockLayout::bitsPerSample, 24);

    RemoteHost host;
    if (FAILED(host.StartResult())) {
        std::fprintf(stderr, "remote_bench: the service did not start\n");
        return 1;
    }
    host.Invoke([](FakeRemotePanel& panel, RemoteProtocol& protocol, UdpService&) {
        panel.asio = true;
        protocol.SetStatusBlockName(kBlockName);
    });
    std::printf("remote_bench: %d requests per run on 127.0.0.1 port %u\n", requests, host.Port());
    const std::string getStatus = R"({"api":"get_status"})";
    const std::string setAsio = R"({"api":"set_asio_status","input":{"buffer_size":"20","bit":"24"}})";
    std::printf("handling on the user-interface thread: get_status %.0f us, set_asio_status %.0f us per request\n",
                HandlingMicroseconds(getStatus, 1000), HandlingMicroseconds(setAsio, 1000));
    Measure(host.Port(), getStatus, 1, 200);  // warm-up
    bool met = true;
    for (int senders : {1, 4}) {
        Run status = Measure(host.Port(), getStatus, senders, requests / senders);
        Print("get_status", senders, status);
        Print("set_asio_status", senders, Measure(host.Port(), setAsio, senders, requests / senders));
        if (senders == 1) {
            double rate = status.seconds > 0 ? double(status.roundTripsMs.size()) / status.seconds : 0;
            met = rate >= 2000 && Percentile(status.roundTripsMs, 0.99) < 2.0;
            std::printf("get_status goal (2000 requests/s, p99 under 2 ms): %s\n", met ? "met" : "missed");
        }
    }
    std::printf("answers sent by the panel: %ld\n", host.AnswersSent());
    return 0;
}
