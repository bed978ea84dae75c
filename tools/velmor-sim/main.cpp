// velmor-sim: shows and changes the virtual R5/R6 that programs started with
// VELMOR_DEVICE=simulated talk to. The device keeps its state between
// programs, so what it sets holds for programs started later.
#include "EndpointCommands.h"
#include "SimReport.h"

#include "simulator/SimDevice.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: velmor-sim [--instance NAME] COMMAND [--json]\n"
    "  status                 the device, its faults and its streams\n"
    "  reports                the HID output reports received (last 128)\n"
    "  plug | unplug          connect or remove the device\n"
    "  reset                  factory setup: R6, plugged in, no faults, logs cleared\n"
    "  clear                  clear the report log and the stream counters\n"
    "  set model r6|r5        set speed high|full     set channels N (render, 1-8)\n"
    "  set max-bits 16|24|32  set burst on|off\n"
    "  set lead-packets N     silent packets a take must begin with (2, the driver's lead-in)\n"
    "  fault stall on|off                 running pins stop completing\n"
    "  fault refuse-channels none|N[,N]   pin creation with these channel counts fails\n"
    "  fault refuse-vendor-set on|off     the first vendor property set is unknown\n"
    "  fault vendor-reply BYTES           length of the vendor status reply (72)\n"
    "  fault hid-report-length BYTES      HID output report length (64)\n"
    "  fault hid-interfaces N             foreign HID interfaces listed first\n"
    "  fault alias present|missing|removed  the render alias of the audio interface\n"
    "  fault pend-properties never|answer|fail  property requests pend, then answer or fail\n"
    "  fault size-query-insufficient on|off  size queries say \"insufficient buffer\", not \"more data\"\n"
    "  fault fail-streams on|off          stream requests fail at once, as with a full queue\n";

bool ParseOnOff(const char* text, uint32_t& value) {
    if (!std::strcmp(text, "on")) return value = 1, true;
    if (!std::strcmp(text, "off")) return value = 0, true;
    return false;
}

bool ParseNumber(const char* text, uint32_t low, uint32_t high, uint32_t& value) {
    char* end = nullptr;
    unsigned long number = std::strtoul(text, &end, 0);
    if (!*text || *end || number < low || number > high) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

bool ParseChannels(const char* text, uint32_t& mask) {
    if (!std::strcmp(text, "none")) return mask = 0, true;
    uint32_t result = 0;
    std::string list(text);
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        uint32_t channels = 0;
        if (!ParseNumber(item.c_str(), 1, 31, channels)) return false;
        result |= 1u << channels;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    mask = result;
    return true;
}

bool Setting(sim::Config& c, const std::string& kind, const char* name, const char* value) {
    if (kind == "set") {
        if (!std::strcmp(name, "model")) {
            if (!std::strcmp(value, "r6")) return c.model = sim::kModelR6, true;
            if (!std::strcmp(value, "r5")) return c.model = sim::kModelR5, true;
            return false;
        }
        if (!std::strcmp(name, "speed")) {
            if (!std::strcmp(value, "high")) return c.fullSpeed = 0, true;
            if (!std::strcmp(value, "full")) return c.fullSpeed = 1, true;
            return false;
        }
        if (!std::strcmp(name, "channels")) return ParseNumber(value, 1, sim::kMaxChannels, c.renderChannels);
        if (!std::strcmp(name, "max-bits")) {
            uint32_t bits = 0;
            if (!ParseNumber(value, 16, 32, bits) || (bits != 16 && bits != 24 && bits != 32)) return false;
            return c.maxBits = bits, true;
        }
        if (!std::strcmp(name, "burst")) return ParseOnOff(value, c.burst);
        if (!std::strcmp(name, "lead-packets")) return ParseNumber(value, 0, 64, c.leadPackets);
        return false;
    }
    if (!std::strcmp(name, "stall")) return ParseOnOff(value, c.stallCompletions);
    if (!std::strcmp(name, "refuse-channels")) return ParseChannels(value, c.refuseChannelMask);
    if (!std::strcmp(name, "refuse-vendor-set")) return ParseOnOff(value, c.refuseFirstVendorSet);
    if (!std::strcmp(name, "vendor-reply")) return ParseNumber(value, 0, 72, c.vendorReplyLength);
    if (!std::strcmp(name, "hid-report-length")) return ParseNumber(value, 0, 1024, c.hidOutputLength);
    if (!std::strcmp(name, "hid-interfaces")) return ParseNumber(value, 0, 4096, c.hidExtraInterfaces);
    if (!std::strcmp(name, "alias")) {
        if (!std::strcmp(value, "present")) return c.alias = sim::kAliasPresent, true;
        if (!std::strcmp(value, "missing")) return c.alias = sim::kAliasMissing, true;
        if (!std::strcmp(value, "removed")) return c.alias = sim::kAliasRemoved, true;
        return false;
    }
    if (!std::strcmp(name, "pend-properties")) {
        if (!std::strcmp(value, "never")) return c.pendProperties = sim::kPendNever, true;
        if (!std::strcmp(value, "answer")) return c.pendProperties = sim::kPendThenAnswer, true;
        if (!std::strcmp(value, "fail")) return c.pendProperties = sim::kPendThenFail, true;
        return false;
    }
    if (!std::strcmp(name, "size-query-insufficient")) return ParseOnOff(value, c.sizeQueryInsufficient);
    if (!std::strcmp(name, "fail-streams")) return ParseOnOff(value, c.failStreams);
    return false;
}

int Usage() {
    std::fputs(kUsage, stderr);
    std::fputs(kEndpointUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    bool json = false;
    std::string instance;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--instance" && i + 1 < argc) {
            instance = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kEndpointUsage, stdout);
            return 0;
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty()) return Usage();
    if (!instance.empty() && !sim::Attach(instance.c_str(), true)) {
        std::fprintf(stderr, "velmor-sim: cannot open the device instance '%s'\n", instance.c_str());
        return 1;
    }
    sim::SharedState* state = sim::State();
    if (!state) {
        std::fprintf(stderr, "velmor-sim: cannot open the virtual device's state\n");
        return 1;
    }
    const std::string& command = args[0];
    int endpointStatus = EndpointCommand(args, json, *state);
    if (endpointStatus == -2) return Usage();
    if (endpointStatus >= 0) return endpointStatus;
    if (command == "status" && args.size() == 1) {
        sim::ActOnDueReports(*state);
        std::fputs((json ? StatusJson(*state) : StatusText(*state)).c_str(), stdout);
        return 0;
    }
    if (command == "reports" && args.size() == 1) {
        std::fputs((json ? ReportsJson(*state) : ReportsText(*state)).c_str(), stdout);
        return 0;
    }
    if ((command == "plug" || command == "unplug") && args.size() == 1) {
        command == "plug" ? sim::Plug() : sim::Unplug();
    } else if (command == "reset" && args.size() == 1) {
        sim::ResetDevice();
    } else if (command == "clear" && args.size() == 1) {
        sim::ClearLog();
    } else if ((command == "set" || command == "fault") && args.size() == 3) {
        sim::Config config = state->config;
        if (!Setting(config, command, args[1].c_str(), args[2].c_str())) {
            std::fprintf(stderr, "velmor-sim: bad %s: %s %s\n", command.c_str(), args[1].c_str(), args[2].c_str());
            return Usage();
        }
        state->config = config;
    } else {
        return Usage();
    }
    std::fputs(json ? "{\"status\":\"ok\"}\n" : "ok\n", stdout);
    return 0;
}
