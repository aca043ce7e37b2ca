#pragma once

#include <string>

// The hub's TLS options, shared by every subcommand that listens: with all three set, every
// endpoint must speak TLS 1.3 and present a certificate signed by the CA.
struct HubTlsOptions
{
    std::string cert; // the hub's certificate (PEM)
    std::string key;  // its private key (PEM)
    std::string ca;   // the CA whose endpoint certificates are accepted (PEM)

    bool enabled() const { return !cert.empty() || !key.empty() || !ca.empty(); }
};

// Takes "--tls-cert FILE", "--tls-key FILE" or "--tls-ca FILE" at argv[i] (advancing i past the
// value). False when argv[i] is none of them or lacks its value.
bool takeHubTlsOption(int argc, char** argv, int& i, HubTlsOptions& options);

// The usage lines of the three options.
const char* hubTlsUsage();
