#include "VirtualDeviceView.h"

#include "simulator/SimState.h"

#include <windows.h>

#include <cinttypes>
#include <cstdio>

namespace selftest {

bool VirtualDeviceSelected() {
    char wanted[16] = "";
    DWORD got = GetEnvironmentVariableA("VELMOR_DEVICE", wanted, sizeof(wanted));
    return got > 0 && got < sizeof(wanted) && lstrcmpiA(wanted, "simulated") == 0;
}

bool VirtualDevicePresent() {
    const sim::SharedState* state = sim::State();
    return state && state->present;
}

uint32_t VirtualDeviceHolder(std::string* image) {
    const sim::SharedState* state = sim::State();
    if (!state) return 0;
    for (const sim::Stream& stream : state->streams) {
        const uint32_t pid = stream.ownerPid;
        if (!stream.open || pid == GetCurrentProcessId() || !sim::ProcessAlive(pid)) continue;
        image->clear();
        if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
            char path[MAX_PATH] = "";
            DWORD size = sizeof(path);
            if (QueryFullProcessImageNameA(process, 0, path, &size)) {
                const char* slash = strrchr(path, '\\');
                *image = slash ? slash + 1 : path;
            }
            CloseHandle(process);
        }
        return pid;
    }
    return 0;
}

std::vector<uint32_t> OpenRenderPins() {
    std::vector<uint32_t> pins;
    const sim::SharedState* state = sim::State();
    if (!state) return pins;
    for (uint32_t pin = 0; pin < sim::kMaxPins; ++pin) {
        const sim::Stream& stream = state->streams[pin];
        if (stream.open && !stream.capture && stream.ownerPid == GetCurrentProcessId()) pins.push_back(pin);
    }
    return pins;
}

std::string HeardFaults(const std::vector<uint32_t>& pins) {
    const sim::SharedState* state = sim::State();
    if (!state) return "virtual device unreachable";
    std::string out;
    auto add = [&out](const char* name, uint64_t count) {
        if (!count) return;
        char text[64];
        snprintf(text, sizeof(text), "%s%s %" PRIu64, out.empty() ? "" : ", ", name, count);
        out += text;
    };
    for (uint32_t pin : pins) {
        if (pin >= sim::kMaxPins) continue;
        const sim::Stream& st = state->streams[pin];
        uint64_t breaks = 0, gaps = 0, channel = 0, offset = 0;
        std::string unlocked;
        int unlockedCount = 0;
        for (uint32_t c = 0; c < st.channels && c < sim::kMaxChannels; ++c) {
            breaks += st.channel[c].breaks;
            gaps += st.channel[c].gaps;
            channel += st.channel[c].channelFaults;
            offset += st.channel[c].offsetFaults;
            if (!st.channel[c].locked) {
                unlocked += (unlocked.empty() ? "" : ", ") + std::to_string(c);
                ++unlockedCount;
            }
        }
        // The order velmor-sim names them in, worst first.
        add("channel", channel);
        add("start", st.startFaults);
        add("lead", st.leadFaults);
        add("changed", st.changedPackets);
        add("marker", st.markerFaults);
        add("offset", offset);
        add("gap", gaps);
        add("break", breaks);
        if (unlockedCount) {
            out += std::string(out.empty() ? "" : ", ") + (unlockedCount > 1 ? "channels " : "channel ") + unlocked +
                   " not locked";
        }
    }
    return out;
}

}  // namespace selftest
