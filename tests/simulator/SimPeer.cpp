// Another process on the virtual device, reached the way shipped binaries
// reach it: through the seam as VELMOR_DEVICE selects it.
//   sim_peer selected   prints "simulated" or "real"
//   sim_peer vendor     finds the device by its service name and prints the vendor status
#include "device/DeviceApi.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const GUID kAudio = {0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID kVendorSets[2] = {
    {0xE6603581, 0x00FC, 0x4922, {0x8D, 0x34, 0x08, 0xD2, 0xBE, 0x6B, 0xF4, 0x2A}},
    {0x8E005ACB, 0x280E, 0x48A5, {0xAE, 0xBB, 0xBA, 0xCA, 0xF9, 0x71, 0x21, 0xB5}},
};

HANDLE OpenByService(const char* service) {
    const DeviceApiTable& api = DeviceApi();
    HDEVINFO set = api.SetupDiGetClassDevsA(&kAudio, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    HANDLE device = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof(info);
    for (DWORD i = 0; device == INVALID_HANDLE_VALUE && api.SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        char name[128] = "";
        if (!api.SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_SERVICE, nullptr, reinterpret_cast<BYTE*>(name),
                                                   sizeof(name), nullptr) ||
            lstrcmpiA(name, service) != 0) {
            continue;
        }
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof(data);
        if (!api.SetupDiEnumDeviceInterfaces(set, &info, &kAudio, 0, &data)) continue;
        DWORD size = 0;
        api.SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
        std::vector<BYTE> buffer(size + 1);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(*detail);
        if (api.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr)) {
            device = api.CreateFileA(detail->DevicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        }
    }
    api.SetupDiDestroyDeviceInfoList(set);
    return device;
}

int Vendor() {
    HANDLE device = OpenByService("VMR5R6HS");
    if (device == INVALID_HANDLE_VALUE) {
        std::puts("no device");
        return 1;
    }
    for (const GUID& set : kVendorSets) {
        BYTE request[72] = {};
        auto* property = reinterpret_cast<KSPROPERTY*>(request);
        property->Set = set;
        property->Id = 0x5000;
        property->Flags = KSPROPERTY_TYPE_GET;
        ULONG reply[18] = {};
        DWORD got = 0;
        if (DeviceApi().DeviceIoControl(device, 0x2F0003, request, 72, reply, 72, &got, nullptr) && got >= 48) {
            std::printf("stream %lu channels %lu rate %lu bits %lu\n", reply[8], reply[9], reply[10], reply[11]);
            DeviceApi().CloseHandle(device);
            return 0;
        }
    }
    std::puts("no status");
    DeviceApi().CloseHandle(device);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && !std::strcmp(argv[1], "selected")) {
        std::puts(&DeviceApi() == &RealDeviceApi() ? "real" : "simulated");
        return 0;
    }
    if (argc == 2 && !std::strcmp(argv[1], "vendor")) return Vendor();
    std::fputs("usage: sim_peer selected|vendor\n", stderr);
    return 2;
}
