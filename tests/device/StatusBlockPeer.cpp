// status_block_peer COMMAND...: a second process on the status block. Runs
// the commands in order on one view and prints a line for each:
//   show              the block's fields
//   claim GUID        claimed=0|1
//   state GUID N      owner-guarded write of the driver state: written=0|1
//   giveback GUID     given=0|1
// With "create" first the block is created when missing (created=0|1);
// otherwise only an existing block is opened, and "no-block" ends the run (exit 3).
#include "device/StatusBlock.h"

#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool ParseGuid(const char* text, GUID* guid) {
    wchar_t wide[64] = {};
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 64) == 0) return false;
    return SUCCEEDED(CLSIDFromString(wide, guid));
}

void PrintGuid(const GUID& guid) {
    wchar_t wide[64] = {};
    StringFromGUID2(guid, wide, 64);
    std::printf("%ls", wide);
}

void Show(const CStatusBlock& block) {
    GUID owner = {};
    char name[kStatusBlockNameChars] = {};
    block.ReadOwner(&owner);
    block.ReadDeviceName(name, sizeof(name));
    std::printf("valid=%d state=%u loaded=%u changed=%u buffer=%u bits=%u rate=%u owner=",
                block.IsValid() ? 1 : 0, block.ReadOr(&StatusBlockLayout::driverState, 0),
                block.ReadOr(&StatusBlockLayout::settingsLoaded, 0), block.ReadOr(&StatusBlockLayout::changed, 0),
                block.ReadOr(&StatusBlockLayout::bufferSize, 0), block.ReadOr(&StatusBlockLayout::bitsPerSample, 0),
                block.ReadOr(&StatusBlockLayout::streamRate, 0));
    PrintGuid(owner);
    std::printf(" name=%s\n", name);
}

}  // namespace

int main(int argc, char** argv) {
    CStatusBlock block;
    int next = 1;
    if (argc > 1 && std::strcmp(argv[1], "create") == 0) {
        if (FAILED(block.Open())) return 4;
        std::printf("created=%d\n", block.Created() ? 1 : 0);
        next = 2;
    } else if (FAILED(block.OpenExisting())) {
        std::printf("no-block\n");
        return 3;
    }
    while (next < argc) {
        const char* command = argv[next++];
        GUID identity = {};
        if (std::strcmp(command, "show") == 0) {
            Show(block);
            continue;
        }
        if (next >= argc || !ParseGuid(argv[next++], &identity)) return 2;
        if (std::strcmp(command, "claim") == 0) {
            std::printf("claimed=%d\n", block.Claim(identity) ? 1 : 0);
        } else if (std::strcmp(command, "giveback") == 0) {
            std::printf("given=%d\n", block.GiveBack(identity) ? 1 : 0);
        } else if (std::strcmp(command, "state") == 0 && next < argc) {
            uint32_t state = static_cast<uint32_t>(std::strtoul(argv[next++], nullptr, 10));
            std::printf("written=%d\n", block.WriteOwned(identity, &StatusBlockLayout::driverState, state) ? 1 : 0);
        } else {
            return 2;
        }
    }
    std::fflush(stdout);
    return 0;
}
