// Request documents of the controller commands, and the answer's reading.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
    std::string host = "127.0.0.1";
    int port = 5566;
    int timeoutMs = 2000;
    bool json = false;
    std::string command;
    std::vector<std::string> arguments;  // after the command word
};

// false with a message when the arguments do not make a command line.
bool ParseCommandLine(int argc, char** argv, CommandLine* line, std::string* error);

// The request text of a command that sends JSON; false with a message for
// a bad option or value.
bool BuildRequest(const CommandLine& line, std::string* request, std::string* error);

// "ok", "fail", or "" when the answer is not a status document.
std::string AnswerStatus(const std::string& answer);
// The answer's output as "path: value" lines.
std::string DescribeAnswer(const std::string& answer);

// {"panel":address,"port":port} for --json output of probe and listen.
std::string PanelJson(const std::string& address, int port);

extern const char kUsage[];
