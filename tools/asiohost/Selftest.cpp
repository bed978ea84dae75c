#include "Selftest.h"

#include "FormatText.h"
#include "DriverList.h"
#include "Player.h"
#include "Probe.h"
#include "VirtualDeviceView.h"

#include "device/SharedTypes.h"
#include "device/StatusBlock.h"

#include <objbase.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Long enough that a busy machine does not starve the stream, short enough for a player's setting.
constexpr double kMinBufferMs = 40;
constexpr double kMaxBufferMs = 50;
// How far the driver's sample position may run from the rate it reports.
constexpr double kPositionTolerance = 0.1;
constexpr double kWidthRowRate = 48000;
constexpr unsigned kWidths[] = {16, 24, 32};
constexpr uint32_t kDsdRatesOffered[] = {kDsd64Rate, kDsd128Rate, kDsd256Rate};


struct Row {
    std::string format;
    PlayResult play;
    std::vector<std::string> reasons;
    std::vector<std::string> firstTry;  // why a try played again failed
};

std::string Joined(const std::vector<std::string>& reasons) {
    std::string text;
    for (size_t i = 0; i < reasons.size(); ++i) text += (i ? "; " : "") + reasons[i];
    return text;
}

struct Run {
    const SelftestOptions& options;
    RegisteredDriver driver;
    CStatusBlock block;  // held through the run, so the widths set in it stay there
    std::vector<Row> rows;
};

IASIO* Create(const RegisteredDriver& driver, HRESULT* hr) {
    void* object = nullptr;
    *hr = CoCreateInstance(driver.clsid, nullptr, CLSCTX_INPROC_SERVER, driver.clsid, &object);
    return SUCCEEDED(*hr) ? static_cast<IASIO*>(object) : nullptr;
}

// Another program's driver object streams or has buffers: the device is
// taken. Asked while this process's own object has none.
std::string BusyHolder() {
    std::string holder;
    if (selftest::VirtualDeviceSelected()) {
        std::string image;
        if (uint32_t pid = selftest::VirtualDeviceHolder(&image)) {
            holder = FormatText("%s, process %lu", image.empty() ? "a program" : image.c_str(), static_cast<unsigned long>(pid));
        }
    }
    CStatusBlock block;
    if (SUCCEEDED(block.OpenExisting()) && block.IsValid()) {
        const uint32_t state = block.ReadOr(&StatusBlockLayout::driverState, 0);
        if (state >= kDriverPrepared) {
            const std::string word = DriverStateWord(state) ? DriverStateWord(state) : "?";
            holder = holder.empty() ? "its driver " + word : holder + ", its driver " + word;
        }
    }
    return holder;
}

const char* WidthName(unsigned bits) { return bits == 16 ? "16-bit" : bits == 24 ? "24-bit" : "32-bit"; }

std::string FormatName(double rate, unsigned bits, bool duplex) {
    for (uint32_t dsd : kDsdRatesOffered) {
        if (rate == dsd) return FormatText("DSD%.0f", rate / 44100);
    }
    return FormatText("%s %.0f Hz %s", duplex ? "duplex" : "PCM", rate, WidthName(bits));
}

void Judge(Row& row, const std::string& heard) {
    const PlayResult& p = row.play;
    std::vector<std::string>& why = row.reasons;
    if (p.failedStep) {
        std::string reason = FormatText("refused: %s %s", p.failedStep, AsioErrorName(p.error));
        const std::string holder = p.error == ASE_NotPresent ? BusyHolder() : "";
        if (!holder.empty()) {
            reason += " (device busy: another program holds it)";
        } else if (p.error == ASE_NotPresent && !std::strcmp(p.failedStep, "createBuffers")) {
            reason += " (the device would not open the stream)";
        }
        why.push_back(reason);
        return;
    }
    if (p.switches == 0) {
        why.push_back("no callbacks");
    } else if (p.switches * 2 < p.expectedSwitches) {
        why.push_back(FormatText("callbacks stopped: %u of about %u", p.switches, p.expectedSwitches));
    }
    // A device left dry starts again later: then the position lags by what the dropouts lost.
    const DropoutCounts& d = p.dropouts;
    const bool dropouts = p.counted ? d.hostLate + d.driverLate + d.deviceUnderrun + d.packetFailed > 0
                                    : p.overloads + p.missed > 0;
    if (p.switches >= 2 && !dropouts && std::fabs(p.positionRate - p.rate) > kPositionTolerance * p.rate) {
        why.push_back(FormatText("position off its rate: %.0f samples/s for %.0f Hz", p.positionRate, p.rate));
    }
    if (p.positionJumps) why.push_back(FormatText("position jumps %u", p.positionJumps));
    if (p.resetRequests) why.push_back(FormatText("reset requests %u", p.resetRequests));
    if (p.resyncRequests) why.push_back(FormatText("resync requests %u", p.resyncRequests));
    if (p.rateChanges) why.push_back(FormatText("rate changes %u", p.rateChanges));
    if (p.counted) {
        std::string causes;
        auto add = [&causes](const char* name, uint32_t n) {
            if (n) causes += FormatText("%s%s %u", causes.empty() ? "" : ", ", name, n);
        };
        add("host late", d.hostLate);
        add("driver late", d.driverLate);
        add("device underrun", d.deviceUnderrun);
        add("packet failed", d.packetFailed);
        if (!causes.empty()) why.push_back("dropouts: " + causes);
    } else if (p.overloads || p.missed) {
        why.push_back(FormatText("dropouts: overloads %u, missed periods %lld", p.overloads, static_cast<long long>(p.missed)));
    }
    if (p.inputs && (p.inputBreaks || p.inputsLocked < p.inputs)) {
        why.push_back(FormatText("recording: %d of %d channels on the pattern, %llu breaks", p.inputsLocked, p.inputs,
                           static_cast<unsigned long long>(p.inputBreaks)));
    }
    if (!heard.empty()) why.push_back("device heard: " + heard);
}

void PrintRow(const Run& run, const Row& row) {
    if (run.options.json) return;
    std::string buffer = row.play.buffer ? FormatText("%d samples %.1f ms", row.play.buffer, row.play.periodMs) : "";
    std::string verdict = row.reasons.empty() ? "OK" : "NOT OK: " + Joined(row.reasons);
    if (!row.firstTry.empty()) verdict += " (second try; the first: " + Joined(row.firstTry) + ")";
    std::printf("%-22s %-22s %s\n", row.format.c_str(), buffer.c_str(), verdict.c_str());
    std::fflush(stdout);
}

bool HasDropouts(const Row& row) {
    for (const std::string& reason : row.reasons) {
        if (reason.compare(0, 9, "dropouts:") == 0) return true;
    }
    return false;
}

// One try of one format on one driver object.
Row TryRow(const Run& run, IASIO* driver, double rate, bool duplex, unsigned bits) {
    Row row;
    row.format = FormatName(rate, bits, duplex);
    PlayOptions options;
    options.rate = rate;
    options.seconds = run.options.seconds;
    options.duplex = duplex;
    options.quiet = true;
    options.minBufferMs = kMinBufferMs;
    options.maxBufferMs = kMaxBufferMs;
    const bool virtualDevice = selftest::VirtualDeviceSelected();
    std::vector<uint32_t> pins;
    options.prepared = [&] {
        if (virtualDevice) pins = selftest::OpenRenderPins();
    };
    Play(driver, options, &row.play);
    if (!row.play.failedStep && !row.play.dsd && row.play.bits != bits) {
        row.reasons.push_back(FormatText("the driver took %u bits", row.play.bits));
    }
    Judge(row, virtualDevice && !row.play.failedStep ? selftest::HeardFaults(pins) : "");
    return row;
}

// A format with a dropout is played once more, as one stall of a busy
// machine can cause it; the row tells both tries. Kept and printed.
void PlayRow(Run& run, IASIO* driver, double rate, bool duplex, unsigned bits) {
    Row row = TryRow(run, driver, rate, duplex, bits);
    if (HasDropouts(row)) {
        Row again = TryRow(run, driver, rate, duplex, bits);
        again.firstTry = row.reasons;
        row = again;
    }
    run.rows.push_back(row);
    PrintRow(run, row);
}

// A new driver object for the next rows; a NOT OK row for them when there is none.
IASIO* Recreate(Run& run, const std::string& format) {
    HRESULT hr = S_OK;
    IASIO* driver = Create(run.driver, &hr);
    if (driver) return driver;
    Row row;
    row.format = format;
    row.reasons.push_back(FormatText("refused: the driver could not be created (0x%08lx)", static_cast<unsigned long>(hr)));
    run.rows.push_back(row);
    PrintRow(run, row);
    return nullptr;
}

unsigned WidthOf(IASIO* driver) {
    ASIOChannelInfo channel = {};
    channel.isInput = ASIOFalse;
    if (driver->getChannelInfo(&channel) != ASE_OK) return 0;
    switch (channel.type) {
    case ASIOSTInt16LSB: return 16;
    case ASIOSTInt24LSB: return 24;
    case ASIOSTInt32LSB: return 32;
    default: return 0;
    }
}

void PrintJson(const Run& run, const std::vector<std::string>& header, bool ok) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("driver");
    w.String(run.options.name.c_str());
    w.Key("device");
    w.StartArray();
    for (const std::string& line : header) w.String(line.c_str());
    w.EndArray();
    w.Key("rows");
    w.StartArray();
    for (const Row& row : run.rows) {
        w.StartObject();
        w.Key("format");
        w.String(row.format.c_str());
        w.Key("rate");
        w.Double(row.play.rate);
        w.Key("buffer");
        w.Int(row.play.buffer);
        w.Key("switches");
        w.Uint(row.play.switches);
        w.Key("ok");
        w.Bool(row.reasons.empty());
        w.Key("reasons");
        w.StartArray();
        for (const std::string& reason : row.reasons) w.String(reason.c_str());
        w.EndArray();
        if (!row.firstTry.empty()) {
            w.Key("first_try");
            w.StartArray();
            for (const std::string& reason : row.firstTry) w.String(reason.c_str());
            w.EndArray();
        }
        w.EndObject();
    }
    w.EndArray();
    w.Key("ok");
    w.Bool(ok);
    w.EndObject();
    std::printf("%s\n", buffer.GetString());
}

// The device lines; false when nothing can be played at all.
bool Introduce(Run& run, std::vector<std::string>& header, IASIO** first, bool* shared) {
    auto say = [&](const std::string& line) {
        header.push_back(line);
        if (!run.options.json) std::printf("%s\n", line.c_str());
    };
    if (!run.options.json) {
        std::printf("asiohost selftest %s (%d-bit host, %.1f s per format)\n", run.options.name.c_str(),
                    static_cast<int>(sizeof(void*) * 8), run.options.seconds);
    }
    if (!FindDriver(run.options.name, run.driver) || !run.driver.clsidValid) {
        say("driver: " + run.options.name + " is not registered for " + std::to_string(sizeof(void*) * 8) +
            "-bit hosts (install it again, or register it with regsvr32)");
        return false;
    }
    const bool virtualDevice = selftest::VirtualDeviceSelected();
    if (virtualDevice && !selftest::VirtualDevicePresent()) {
        say("device: not present (the virtual device is unplugged: velmor-sim plug)");
        return false;
    }
    const std::string holder = BusyHolder();
    // The first driver object owns the status block: with another program's
    // there, this one cannot set a width and is offered no DSD.
    GUID owner = {};
    CStatusBlock block;
    *shared = SUCCEEDED(block.OpenExisting()) && block.ReadOwner(&owner) && !IsEqualGUID(owner, GUID_NULL);
    HRESULT hr = S_OK;
    IASIO* driver = Create(run.driver, &hr);
    if (!driver || driver->init(nullptr) != ASIOTrue) {
        say(FormatText("device: not found (the driver could not be %s, 0x%08lx): is it connected and switched on?",
                 driver ? "initialised" : "created", static_cast<unsigned long>(hr)));
        if (driver) driver->Release();
        return false;
    }
    *first = driver;
    int32_t inputs = 0, outputs = 0;
    driver->getChannels(&inputs, &outputs);
    say(FormatText("device: present%s, %d outputs, %d inputs, driver version %ld", virtualDevice ? " (virtual)" : "",
             static_cast<int>(outputs), static_cast<int>(inputs), static_cast<long>(driver->getDriverVersion())));
    say(holder.empty() ? "in use: no other program holds the device"
                       : "in use: another program holds the device (" + holder + "): close it and run again");
    if (*shared && holder.empty()) {
        say("in use: another program has the driver open: other widths and DSD are tested only without it");
    }
    return true;
}

}  // namespace

int Selftest(const SelftestOptions& options) {
    Run run{options, {}, {}, {}};
    std::vector<std::string> header;
    CoInitialize(nullptr);
    IASIO* driver = nullptr;
    bool shared = false;
    if (!Introduce(run, header, &driver, &shared)) {
        if (options.json) {
            PrintJson(run, header, false);
        } else {
            std::printf("verdict: NOT OK, nothing played\n");
        }
        CoUninitialize();
        return 1;
    }

    // What this object offers; a width or the stream rate changed for a row is put back at the end.
    if (!shared) run.block.OpenExisting();
    const uint32_t savedWidth = run.block.ReadOr(&StatusBlockLayout::bitsPerSample, 0);
    const uint32_t widthMask = run.block.ReadOr(&StatusBlockLayout::supporBitsPerSample, 0);
    double savedRate = 0;
    driver->getSampleRate(&savedRate);
    const unsigned preferred = WidthOf(driver);
    int32_t inputs = 0, outputs = 0;
    driver->getChannels(&inputs, &outputs);
    std::vector<double> pcm, dsd;
    for (uint32_t rate : kRateTable) {
        if (driver->canSampleRate(rate) == ASE_OK) pcm.push_back(rate);
    }
    for (uint32_t rate : kDsdRatesOffered) {
        if (driver->canSampleRate(rate) == ASE_OK) dsd.push_back(rate);
    }
    bool has48k = false;
    for (double rate : pcm) has48k |= rate == kWidthRowRate;

    for (double rate : pcm) PlayRow(run, driver, rate, false, preferred);
    // A width is taken at init: one driver object per width.
    for (unsigned bits : kWidths) {
        if (bits == preferred || !has48k || !(widthMask & (1u << (bits / 8 - 1)))) continue;
        driver->Release();
        run.block.Write(&StatusBlockLayout::bitsPerSample, bits);
        driver = Recreate(run, FormatName(kWidthRowRate, bits, false));
        if (driver) PlayRow(run, driver, kWidthRowRate, false, bits);
    }
    if (driver && WidthOf(driver) != preferred) {
        driver->Release();
        driver = nullptr;
    }
    // 0 too: the driver then takes its widest, as it did.
    if (run.block.IsValid()) run.block.Write(&StatusBlockLayout::bitsPerSample, savedWidth);
    if (!driver) driver = Recreate(run, "DSD and duplex");
    if (driver) {
        for (double rate : dsd) PlayRow(run, driver, rate, false, preferred);
        if (inputs > 0 && has48k) PlayRow(run, driver, kWidthRowRate, true, preferred);
        // The rate the user had, stored again when the object goes.
        if (savedRate > 0) driver->setSampleRate(savedRate);
        driver->Release();
    }
    if (run.block.IsValid()) run.block.MarkChanged();

    size_t failed = 0;
    for (const Row& row : run.rows) failed += row.reasons.empty() ? 0 : 1;
    const bool ok = failed == 0 && !run.rows.empty();
    if (options.json) {
        PrintJson(run, header, ok);
    } else if (ok) {
        std::printf("verdict: OK, all %zu formats played as they should\n", run.rows.size());
    } else {
        std::printf("verdict: NOT OK, %zu of %zu formats failed (README \"Troubleshooting\" says what each reason means)\n",
                    failed, run.rows.size());
    }
    CoUninitialize();
    return ok ? 0 : 1;
}
