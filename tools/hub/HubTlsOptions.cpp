#include "HubTlsOptions.h"

bool takeHubTlsOption(int argc, char** argv, int& i, HubTlsOptions& options)
{
    const std::string argument = argv[i];
    std::string* field = argument == "--tls-cert"  ? &options.cert
                         : argument == "--tls-key" ? &options.key
                         : argument == "--tls-ca"  ? &options.ca
                                                   : nullptr;
    if (!field || i + 1 >= argc)
        return false;
    *field = argv[++i];
    return true;
}

const char* hubTlsUsage()
{
    return "  --tls-cert FILE           TLS 1.3 with the hub's certificate (PEM); endpoints\n"
           "  --tls-key FILE            then connect to tls://HOST[:PORT] and must present a\n"
           "  --tls-ca FILE             certificate signed by this CA (all three needed)\n";
}
