#include "SimReport.h"

#include "simulator/SimModel.h"
#include "device/SupportedDevices.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

const char* const kStateNames[] = {"STOP", "ACQUIRE", "PAUSE", "RUN"};

const char* StateName(uint32_t state) { return state < 4 ? kStateNames[state] : "?"; }
const char* OnOff(uint32_t value) { return value ? "on" : "off"; }
const char* AliasName(uint32_t alias) {
    return alias == sim::kAliasMissing ? "missing" : alias == sim::kAliasRemoved ? "removed" : "present";
}
const char* PendName(uint32_t pend) {
    return pend == sim::kPendThenAnswer ? "answer" : pend == sim::kPendThenFail ? "fail" : "never";
}

std::string Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Line(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return std::string(text) + "\n";
}

std::string ReportBytes(const sim::Report& report) {
    std::string hex;
    uint32_t shown = report.length < 8 ? report.length : 8;
    for (uint32_t i = 0; i < shown; ++i) {
        char byte[4];
        snprintf(byte, sizeof(byte), i ? " %02X" : "%02X", report.data[i]);
        hex += byte;
    }
    return hex;
}

// Milliseconds of the Unix epoch, from a FILETIME.
uint64_t UnixMs(uint64_t fileTime) { return (fileTime - 116444736000000000ull) / 10000; }

void Key(Writer& w, const char* key, uint64_t value) {
    w.Key(key);
    w.Uint64(value);
}

void Text(Writer& w, const char* key, const char* value) {
    w.Key(key);
    w.String(value);
}

void Flag(Writer& w, const char* key, bool value) {
    w.Key(key);
    w.Bool(value);
}

// The named faults of a render stream, worst first; empty when it played clean.
struct NamedFault {
    const char* name;
    uint64_t count;
};

std::vector<NamedFault> RenderFaults(const sim::Stream& st) {
    uint64_t breaks = 0, gaps = 0, channel = 0, offset = 0;
    for (uint32_t ch = 0; ch < st.channels && ch < sim::kMaxChannels; ++ch) {
        breaks += st.channel[ch].breaks;
        gaps += st.channel[ch].gaps;
        channel += st.channel[ch].channelFaults;
        offset += st.channel[ch].offsetFaults;
    }
    const NamedFault all[] = {{"channel", channel},        {"start", st.startFaults}, {"lead", st.leadFaults},
                              {"changed", st.changedPackets}, {"marker", st.markerFaults}, {"offset", offset},
                              {"gap", gaps},                 {"break", breaks}};
    std::vector<NamedFault> found;
    if (st.capture) return found;
    for (const NamedFault& fault : all) {
        if (fault.count) found.push_back(fault);
    }
    return found;
}

}  // namespace

std::string StatusText(const sim::SharedState& s) {
    const sim::Config& c = s.config;
    std::string out;
    out += Line("present %s", s.present ? "yes" : "no");
    out += Line("model %s", c.model == sim::kModelR5 ? "R5" : "R6");
    out += Line("service %s", sim::ServiceName(c));
    out += Line("usb VID_%04X&PID_%04X", kVelmorVendorId, sim::ProductId(c));
    out += Line("render-channels %u", c.renderChannels);
    out += Line("max-bits %u", c.maxBits);
    out += Line("burst %s", OnOff(c.burst));
    out += Line("lead-packets %u", c.leadPackets);
    out += Line("dsd-mode %u", s.dsdMode);
    out += Line("marker %u reports %u", s.markerState, s.markerReports);
    out += Line("volume-steps %d", s.volumeSteps);
    out += Line("reports %u", s.reportCount);
    out += Line("fault stall %s", OnOff(c.stallCompletions));
    out += Line("fault refuse-channels 0x%X", c.refuseChannelMask);
    out += Line("fault refuse-vendor-set %s", OnOff(c.refuseFirstVendorSet));
    out += Line("fault vendor-reply %u", c.vendorReplyLength);
    out += Line("fault hid-report-length %u", c.hidOutputLength);
    out += Line("fault hid-interfaces %u", c.hidExtraInterfaces);
    out += Line("fault alias %s", AliasName(c.alias));
    out += Line("fault pend-properties %s", PendName(c.pendProperties));
    out += Line("fault size-query-insufficient %s", OnOff(c.sizeQueryInsufficient));
    out += Line("fault fail-streams %s", OnOff(c.failStreams));
    for (uint32_t pin = 0; pin < sim::kMaxPins; ++pin) {
        const sim::Stream& st = s.streams[pin];
        if (!st.open && !st.completed) continue;
        const bool open = st.open && sim::ProcessAlive(st.ownerPid);
        out += Line("stream %u %s %s state %s rate %u bits %u valid %u channels %u dsd %u", pin,
                    st.capture ? "capture" : "render", open ? "open" : "closed", StateName(open ? st.state : 0), st.rate,
                    st.bits, st.validBits, st.channels, st.dsd);
        out += Line("stream %u packets queued %" PRIu64 " completed %" PRIu64 " cancelled %" PRIu64
                    " underruns %" PRIu64 " dry %" PRIu64 " ms partial %u",
                    pin, st.queued, st.completed, st.cancelled, st.underruns, st.dryMicroseconds / 1000,
                    st.partialPackets);
        for (uint32_t ch = 0; ch < st.channels && ch < sim::kMaxChannels; ++ch) {
            const sim::ChannelCounters& cc = st.channel[ch];
            out += Line("stream %u channel %u frames %" PRIu64 " breaks %" PRIu64 " gaps %" PRIu64 " channel %" PRIu64
                        " offset %" PRIu64 " locked %s",
                        pin, ch, cc.frames, cc.breaks, cc.gaps, cc.channelFaults, cc.offsetFaults,
                        cc.locked ? "yes" : "no");
        }
        if (st.capture) continue;
        out += Line("stream %u takes %" PRIu64 " first-frame %u lead-frames %" PRIu64 " dop %s", pin, st.takes,
                    st.firstFrame, st.leadFrames, st.dop ? "yes" : "no");
        std::string faults;
        for (const NamedFault& fault : RenderFaults(st)) {
            faults += Line("%s %" PRIu64, fault.name, fault.count);
            faults.back() = ',';
            faults += ' ';
        }
        if (faults.empty()) {
            faults = "none";
        } else {
            faults.resize(faults.size() - 2);
        }
        out += Line("stream %u faults %s", pin, faults.c_str());
    }
    return out;
}

std::string StatusJson(const sim::SharedState& s) {
    const sim::Config& c = s.config;
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartObject();
    Flag(w, "present", s.present != 0);
    Text(w, "model", c.model == sim::kModelR5 ? "R5" : "R6");
    Text(w, "service", sim::ServiceName(c));
    Key(w, "vendor_id", kVelmorVendorId);
    Key(w, "product_id", sim::ProductId(c));
    Key(w, "render_channels", c.renderChannels);
    Key(w, "max_bits", c.maxBits);
    Flag(w, "burst", c.burst != 0);
    Key(w, "lead_packets", c.leadPackets);
    Key(w, "dsd_mode", s.dsdMode);
    Key(w, "marker", s.markerState);
    Key(w, "marker_reports", s.markerReports);
    w.Key("volume_steps");
    w.Int(s.volumeSteps);
    Key(w, "reports", s.reportCount);
    w.Key("faults");
    w.StartObject();
    Flag(w, "stall", c.stallCompletions != 0);
    Key(w, "refuse_channels", c.refuseChannelMask);
    Flag(w, "refuse_vendor_set", c.refuseFirstVendorSet != 0);
    Key(w, "vendor_reply", c.vendorReplyLength);
    Key(w, "hid_report_length", c.hidOutputLength);
    Key(w, "hid_interfaces", c.hidExtraInterfaces);
    Text(w, "alias", AliasName(c.alias));
    Text(w, "pend_properties", PendName(c.pendProperties));
    Flag(w, "size_query_insufficient", c.sizeQueryInsufficient != 0);
    Flag(w, "fail_streams", c.failStreams != 0);
    w.EndObject();
    w.Key("streams");
    w.StartArray();
    for (uint32_t pin = 0; pin < sim::kMaxPins; ++pin) {
        const sim::Stream& st = s.streams[pin];
        if (!st.open && !st.completed) continue;
        const bool open = st.open && sim::ProcessAlive(st.ownerPid);
        w.StartObject();
        Key(w, "pin", pin);
        Text(w, "direction", st.capture ? "capture" : "render");
        Flag(w, "open", open);
        Text(w, "state", StateName(open ? st.state : 0));
        Key(w, "rate", st.rate);
        Key(w, "bits", st.bits);
        Key(w, "valid_bits", st.validBits);
        Key(w, "channels", st.channels);
        Key(w, "dsd", st.dsd);
        Key(w, "queued", st.queued);
        Key(w, "completed", st.completed);
        Key(w, "cancelled", st.cancelled);
        Key(w, "underruns", st.underruns);
        Key(w, "dry_us", st.dryMicroseconds);
        Key(w, "partial_packets", st.partialPackets);
        if (!st.capture) {
            Key(w, "takes", st.takes);
            Key(w, "first_frame", st.firstFrame);
            Key(w, "lead_frames", st.leadFrames);
            Flag(w, "dop", st.dop != 0);
            w.Key("faults");
            w.StartObject();
            for (const NamedFault& fault : RenderFaults(st)) Key(w, fault.name, fault.count);
            w.EndObject();
        }
        w.Key("channel");
        w.StartArray();
        for (uint32_t ch = 0; ch < st.channels && ch < sim::kMaxChannels; ++ch) {
            w.StartObject();
            Key(w, "frames", st.channel[ch].frames);
            Key(w, "breaks", st.channel[ch].breaks);
            Key(w, "gaps", st.channel[ch].gaps);
            Key(w, "channel_faults", st.channel[ch].channelFaults);
            Key(w, "offset_faults", st.channel[ch].offsetFaults);
            Flag(w, "locked", st.channel[ch].locked != 0);
            w.EndObject();
        }
        w.EndArray();
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    return std::string(buffer.GetString()) + "\n";
}

namespace {

template <typename F>
void ForEachReport(const sim::SharedState& s, F f) {
    uint32_t count = s.reportCount;
    uint32_t first = count > sim::kReportLogSize ? count - sim::kReportLogSize : 0;
    for (uint32_t i = first; i < count; ++i) f(i, s.reports[i % sim::kReportLogSize]);
}

}  // namespace

std::string ReportsText(const sim::SharedState& s) {
    std::string out;
    ForEachReport(s, [&](uint32_t index, const sim::Report& r) {
        out += Line("report %u time %" PRIu64 " length %u pid %u bytes %s", index, UnixMs(r.time), r.length, r.pid,
                    ReportBytes(r).c_str());
    });
    return out;
}

std::string ReportsJson(const sim::SharedState& s) {
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartArray();
    ForEachReport(s, [&](uint32_t index, const sim::Report& r) {
        w.StartObject();
        Key(w, "index", index);
        Key(w, "time_ms", UnixMs(r.time));
        Key(w, "length", r.length);
        Key(w, "pid", r.pid);
        w.Key("bytes");
        w.StartArray();
        for (uint32_t i = 0; i < r.length && i < sim::kReportBytes; ++i) w.Uint(r.data[i]);
        w.EndArray();
        w.EndObject();
    });
    w.EndArray();
    return std::string(buffer.GetString()) + "\n";
}
