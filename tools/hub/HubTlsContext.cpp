#include "HubTlsContext.h"

#include "heartbeat/TlsClientContext.h"

#include <openssl/ssl.h>

namespace asio = boost::asio;

std::shared_ptr<asio::ssl::context> makeHubTlsContext(const HubTlsOptions& options,
                                                      std::string& error)
{
    if (options.cert.empty() || options.key.empty() || options.ca.empty()) {
        error = "TLS needs --tls-cert, --tls-key and --tls-ca together";
        return nullptr;
    }
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
    SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_3_VERSION);
    boost::system::error_code ec;
    context->set_verify_mode(asio::ssl::verify_peer | asio::ssl::verify_fail_if_no_peer_cert, ec);
    const auto failed = [&](const std::string& path) {
        error = "cannot use " + path + ": " + roamnode::tlsErrorText(ec);
        return nullptr;
    };
    context->load_verify_file(options.ca, ec);
    if (ec)
        return failed(options.ca);
    context->use_certificate_chain_file(options.cert, ec);
    if (ec)
        return failed(options.cert);
    context->use_private_key_file(options.key, asio::ssl::context::pem, ec);
    if (ec)
        return failed(options.key);
    if (SSL_CTX_check_private_key(context->native_handle()) != 1) {
        error = "the key in " + options.key + " does not belong to " + options.cert;
        return nullptr;
    }
    return context;
}
