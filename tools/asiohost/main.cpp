// asiohost: a reference ASIO host. It finds drivers the way hosts do
// (HKLM "Software\ASIO" -> "CLSID" -> CoCreateInstance with the CLSID as class
// and interface) and shows what they answer.
//   asiohost list [--json]
//   asiohost probe NAME [--json]
//   asiohost controlpanel NAME
//   asiohost log on|off|show
//   asiohost play|duplex NAME [--rate HZ]... [--buffer SAMPLES] [--seconds S] [--signal pattern|sine] [--bits N]
//   asiohost play NAME --baseline [options]
//   asiohost selftest [NAME] [--seconds S] [--json]
#include "BaselinePlay.h"
#include "ControlPanel.h"
#include "DriverList.h"
#include "LogCommand.h"
#include "Player.h"
#include "Probe.h"
#include "Selftest.h"

#include "device/AsioSettingsKey.h"
#include "device/RegKey.h"
#include "device/StatusBlock.h"

#include <objbase.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: asiohost list [--json]\n"
    "       asiohost probe NAME [--json]\n"
    "       asiohost controlpanel NAME      show the driver's control panel\n"
    "       asiohost log on|off|show        the driver's support log (VelmorR5R6ASIO.log in the user folder)\n"
    "       asiohost play NAME [options]     play in real time\n"
    "       asiohost duplex NAME [options]   play and record, checking what comes back\n"
    "       asiohost selftest [NAME] [--seconds S] [--json]\n"
    "                                        play every format the driver offers (S seconds each, default 1)\n"
    "                                        and say OK or NOT OK with the reason; NAME defaults to VelmorR5R6\n"
    "options: --rate HZ (PCM rates, or 2822400, 5644800, 11289600 for DSD); given again, one run per rate\n"
    "         on the same driver object, its buffers disposed between\n"
    "         --buffer SAMPLES (default: the driver's preferred size)  --seconds S (default 3)\n"
    "         --signal pattern|sine (default pattern)  --bits 16|24|32 (the driver's PCM width)\n"
    "         --json\n"
    "         --baseline (play, text only): alternate 1 s slices with the machine's own wake-up chain and\n"
    "         report the driver against it; exit status 1 then means dropouts the baseline does not explain\n"
    "exit status: 0 clean, 1 a glitch (late, early or missed periods, reset requests, broken input) or a failure,\n"
    "             2 a usage error\n";

// A whole decimal number, or false (empty, trailing text, out of range).
bool ParseNumber(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(*value);
}

// The PCM width the driver takes at its next init, set as the panel sets it.
void SetDriverWidth(uint32_t bits) {
    CRegKey asio, driver;
    if (asio.Create(HKEY_CURRENT_USER, kAsioKeyPath) == ERROR_SUCCESS &&
        driver.Create(asio.Get(), kDriverKeyName) == ERROR_SUCCESS) {
        driver.SetDword(kValueBitsPerSample, bits);
    }
    CStatusBlock block;
    if (SUCCEEDED(block.OpenExisting()) && block.Write(&StatusBlockLayout::bitsPerSample, bits)) block.MarkChanged();
}

int List(bool json) {
    std::vector<RegisteredDriver> drivers = ListDrivers();
    if (json) {
        std::string out = "[";
        for (size_t i = 0; i < drivers.size(); ++i) {
            out += (i ? ",{" : "{");
            out += "\"name\":\"" + drivers[i].name + "\",\"clsid\":\"" + drivers[i].clsidText + "\"}";
        }
        std::puts((out + "]").c_str());
        return 0;
    }
    if (drivers.empty()) std::puts("no ASIO drivers registered");
    for (const RegisteredDriver& d : drivers) std::printf("%s %s\n", d.name.c_str(), d.clsidText.c_str());
    return 0;
}

// Creates the driver object; prints why not on failure.
IASIO* Open(const std::string& name) {
    RegisteredDriver driver;
    if (!FindDriver(name, driver)) {
        std::fprintf(stderr, "asiohost: no ASIO driver named '%s' is registered\n", name.c_str());
        return nullptr;
    }
    if (!driver.clsidValid) {
        std::fprintf(stderr, "asiohost: driver '%s' has no usable CLSID\n", name.c_str());
        return nullptr;
    }
    void* object = nullptr;
    HRESULT hr = CoCreateInstance(driver.clsid, nullptr, CLSCTX_INPROC_SERVER, driver.clsid, &object);
    if (FAILED(hr) || !object) {
        std::fprintf(stderr, "asiohost: driver '%s' could not be created (0x%08lx)%s\n", name.c_str(),
                     static_cast<unsigned long>(hr), hr == E_FAIL ? ": is the device connected?" : "");
        return nullptr;
    }
    return static_cast<IASIO*>(object);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    bool json = false;
    bool baseline = false;
    PlayOptions play;
    std::vector<double> rates;
    uint32_t bits = 0;
    bool secondsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--json")) {
            json = true;
        } else if (!std::strcmp(argv[i], "--baseline")) {
            baseline = true;
        } else if (!std::strcmp(argv[i], "--rate") || !std::strcmp(argv[i], "--buffer") ||
                   !std::strcmp(argv[i], "--seconds")) {
            // A value the run cannot use is refused, not quietly replaced by the driver's.
            double number = 0;
            if (!value || !ParseNumber(argv[i + 1], &number) || number <= 0) {
                std::fputs(kUsage, stderr);
                return 2;
            }
            const char* option = argv[i++];
            if (!std::strcmp(option, "--rate")) {
                rates.push_back(number);
            } else if (!std::strcmp(option, "--seconds")) {
                play.seconds = number;
                secondsGiven = true;
            } else if (number != std::floor(number) || number > 0x7FFFFFFF) {
                std::fputs(kUsage, stderr);
                return 2;
            } else {
                play.buffer = static_cast<int32_t>(number);
            }
        } else if (!std::strcmp(argv[i], "--signal") && value) {
            std::string signal = argv[++i];
            if (signal != "pattern" && signal != "sine") {
                std::fputs(kUsage, stderr);
                return 2;
            }
            play.sine = signal == "sine";
        } else if (!std::strcmp(argv[i], "--bits") && value) {
            bits = static_cast<uint32_t>(std::atoi(argv[++i]));
            if (bits != 16 && bits != 24 && bits != 32) {
                std::fputs(kUsage, stderr);
                return 2;
            }
        } else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            args.push_back(argv[i]);
        }
    }
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (args[0] == "list" && args.size() == 1) return List(json);
    if (args[0] == "log" && args.size() == 2) {
        int code = LogCommand(args[1]);
        if (code == 2) std::fputs(kUsage, stderr);
        return code;
    }
    if (args[0] == "selftest" && args.size() <= 2) {
        if (play.seconds > 3600 || baseline || bits || !rates.empty() || play.buffer) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        SelftestOptions selftest;
        if (args.size() == 2) selftest.name = args[1];
        if (secondsGiven) selftest.seconds = play.seconds;
        selftest.json = json;
        return Selftest(selftest);
    }
    if (args[0] == "probe" && args.size() == 2) {
        CoInitialize(nullptr);
        int code = 1;
        if (IASIO* driver = Open(args[1])) {
            ProbeAnswers answers = Probe(driver);
            std::fputs((json ? ProbeJson(answers) : ProbeText(answers)).c_str(), stdout);
            driver->Release();
            code = 0;
        }
        CoUninitialize();
        return code;
    }
    if (args[0] == "controlpanel" && args.size() == 2) {
        CoInitialize(nullptr);
        int code = 1;
        if (IASIO* driver = Open(args[1])) {
            code = ShowControlPanel(driver);
            driver->Release();
        }
        CoUninitialize();
        return code;
    }
    if ((args[0] == "play" || args[0] == "duplex") && args.size() == 2) {
        if (play.seconds > 3600) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        play.duplex = args[0] == "duplex";
        play.json = json;
        if (bits) SetDriverWidth(bits);
        CoInitialize(nullptr);
        int code = 1;
        if (rates.empty()) rates.push_back(0);
        if (IASIO* driver = Open(args[1])) {
            code = 0;
            for (double rate : rates) {
                play.rate = rate;
                code = std::max(code, baseline ? PlayAgainstBaseline(driver, play) : Play(driver, play));
            }
            driver->Release();
        }
        CoUninitialize();
        return code;
    }
    std::fputs(kUsage, stderr);
    return 2;
}
