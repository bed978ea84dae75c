// asiohost: a reference ASIO host. It finds drivers the way hosts do
// (HKLM "Software\ASIO" -> "CLSID" -> CoCreateInstance with the CLSID as class
// and interface) and shows what they answer.
//   asiohost list [--json]
//   asiohost probe NAME [--json]
#include "DriverList.h"
#include "Probe.h"

#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: asiohost list [--json]\n"
    "       asiohost probe NAME [--json]\n";

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
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--json")) {
            json = true;
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
    std::fputs(kUsage, stderr);
    return 2;
}
