// The ASIO drivers registered on this machine, found the way hosts find
// them: the subkeys of HKEY_LOCAL_MACHINE "Software\ASIO" and their "CLSID".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RegisteredDriver {
    std::string name;
    std::string clsidText;  // as registered, braces included
    CLSID clsid;
    bool clsidValid;
};

std::vector<RegisteredDriver> ListDrivers();
// The driver of that name (compared without regard to case); false when none.
bool FindDriver(const std::string& name, RegisteredDriver& driver);
