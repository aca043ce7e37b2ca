#pragma once

#include "HubTlsOptions.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hubrun {

// The command line of `roamnode-hub run`.
struct RunOptions
{
    std::string scenarioPath; // empty when every endpoint's scenario comes from --map
    std::uint16_t port = 9100;
    std::vector<std::string> bindAddresses; // empty: every IPv4 and IPv6 interface
    std::vector<std::string> devices;       // drive these device ids (the hello's "uuid")
    unsigned endpoints = 0;                 // 0: as many as --device/--map name, else 1
    std::string mapPath;
    double startInSeconds = 3.0;
    std::string outDir = "roamnode-results";
    double registerTimeoutSeconds = 120.0;
    // "dstport" FROM becomes TO wherever it appears in a flow.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> portRewrites;
    std::string httpdStatsPath;
    // "get localtime" exchanges per endpoint; each costs one heartbeat interval.
    unsigned clockSamples = 4;
    // Every column of the summary table, however wide.
    bool wide = false;
    HubTlsOptions tls;
    // Where every run is kept: an SQLite file or a postgresql:// URL; empty: outDir/results.db.
    std::string archive;
    // The live progress line (or, off a terminal, one line per change of phase).
    bool progress = true;
    bool help = false;
};

// Parses the arguments after "run"; on a bad argument returns false and sets error.
bool parseRunOptions(int argc, char** argv, RunOptions& options, std::string& error);

// The options `run` and `serve` share: --port, --bind, --start-in, --out, --archive and
// --clock-samples. `known` says whether `argument` is one of them; false and `error` for a bad
// value.
bool parseSharedRunOption(const std::string& argument, const std::string& value,
                          RunOptions& options, bool& known, std::string& error);

// "FROM=TO", both ports 1..65535.
bool parsePortRewrite(const std::string& text, std::pair<std::uint16_t, std::uint16_t>& rewrite);

const char* runUsage();

} // namespace hubrun
