// The prefix's own driver registration (scripts/demo's, the installer's, a
// user's): a test that registers the build's driver over it removes its own
// afterwards and puts the prefix's back, so hosts find what they found before.
#pragma once

#include <functional>
#include <string>

class SavedRegistration {
public:
    // view: 0 for this program's own registry view, or KEY_WOW64_32KEY / KEY_WOW64_64KEY.
    explicit SavedRegistration(unsigned long view = 0) : view_(view) {}
    void Save();  // what HKLM "Software\ASIO\VelmorR5R6" holds now
    // Runs unregister when another registration is there, then writes the saved one back.
    void Restore(const std::function<void()>& unregister) const;

private:
    std::string clsid_, driver_;
    bool present_ = false;
    unsigned long view_;
    bool ReadText(const char* name, std::string* text) const;
};
