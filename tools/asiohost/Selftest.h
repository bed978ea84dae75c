// asiohost selftest: whether the device is there and free, then one short
// play of every format the driver offers, each row OK or NOT OK with why.
#pragma once

#include <string>

struct SelftestOptions {
    std::string name = "VelmorR5R6";
    double seconds = 1;  // per format
    bool json = false;
};

// 0 when every row is OK, else 1.
int Selftest(const SelftestOptions& options);
