// The prefix's own driver registration (from scripts/demo, the installer or a
// user): tests that register the build's driver over it remove their own and
// put the prefix's back, so hosts find what they found before.
#pragma once

#include <string>

class SavedRegistration {
public:
    // Records what HKLM "Software\ASIO\VelmorR5R6" holds now.
    void Save();
    // Unregisters a registration the test made (unregister runs through the
    // given command), then restores the recorded one.
    template <typename Unregister>
    void Restore(Unregister unregister) const {
        if (HoldsOther()) unregister();
        PutBack();
    }

private:
    bool HoldsOther() const;  // a registration is there that is not the recorded one
    void PutBack() const;

    std::string clsid_;
    std::string driver_;
    bool present_ = false;
};
