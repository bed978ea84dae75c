// Another process on the virtual device, reached the way shipped binaries
// reach it: through the seam as VELMOR_DEVICE selects it.
//   sim_peer selected   prints "simulated" or "real"
//   sim_peer vendor     finds the device by its service name and prints the vendor status
#include "device/DeviceApi.h"
#include "device/SupportedDevices.h"
#include "device/VendorStatus.h"

#include <cstdio>
#include <cstring>

namespace {

// The panel's way: the audio interface by the driver's service name, then the status property.
int Vendor() {
    HANDLE device = INVALID_HANDLE_VALUE;
    if (FAILED(OpenAudioDeviceByService(&device, kServiceHighSpeed))) {
        std::puts("no device");
        return 1;
    }
    ULONG stream = 0, channels = 0, rate = 0, bits = 0;
    HRESULT hr = QueryDeviceStreamStatus(device, &stream, &channels, &rate, &bits);
    DeviceApi().CloseHandle(device);
    if (FAILED(hr)) {
        std::puts("no status");
        return 1;
    }
    // The virtual device puts its channel count in the field the panel passes on.
    std::printf("stream %lu channels %lu rate %lu bits %lu\n", stream, channels, rate, bits);
    return 0;
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
