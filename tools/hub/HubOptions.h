#pragma once

#include "HubTlsOptions.h"

#include <cstdint>
#include <string>
#include <vector>

// The hub's command line.
struct HubOptions
{
    std::uint16_t port = 9100;
    // Empty: every IPv4 and IPv6 interface.
    std::vector<std::string> bindAddresses;
    std::vector<std::string> requests;
    // 0: run until stopped.
    std::uint64_t exitAfterReplies = 0;
    // How long the endpoint may take to send its hello, and to reply (its managers may need a
    // few seconds for their answers).
    std::int64_t helloTimeoutMs = 5000;
    std::int64_t replyTimeoutMs = 15000;
    // After each "reply" line, "exchange-ns N": request written to reply read, steady clock.
    bool timings = false;
    HubTlsOptions tls;
    bool help = false;
};

// Parses argv; on a bad argument returns false and sets error.
bool parseHubOptions(int argc, char** argv, HubOptions& options, std::string& error);

// Reads one request per line; blank lines and lines starting with "#" are skipped.
bool readRequestFile(const std::string& path, std::vector<std::string>& requests,
                     std::string& error);

const char* hubUsage();
