// "velmor-remote serve": the HTTP server of the web remote, bridging its
// routes to the panel's UDP remote control.
#pragma once

#include "WebOptions.h"

#include <cstdint>
#include <memory>
#include <string>

class WebServer {
public:
    explicit WebServer(const ServeOptions& options);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Takes the address and port; false when they are not free.
    bool Bind();
    uint16_t Port() const;  // the bound port
    // The address to open, with the token when there is one; host names
    // this machine (the listening address when empty).
    std::string Url(const std::string& host = "") const;
    // Serves until Stop; false when it could not.
    bool Run();
    // Ends Run and every event stream; from any thread.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

// The page, from the program's resources; empty when missing.
std::string LoadWebPage();
