#include "heartbeat/TlsClientContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace roamnode {

TlsFiles defaultTlsFiles()
{
    return {"/etc/roamnode/tls/ca.pem", "/etc/roamnode/tls/endpoint.pem",
            "/etc/roamnode/tls/endpoint.key"};
}

std::string tlsErrorText(const boost::system::error_code& error)
{
    if (error.category() == boost::asio::error::get_ssl_category()) {
        const char* reason = ERR_reason_error_string(static_cast<unsigned long>(error.value()));
        if (reason)
            return reason;
    }
    return error.message();
}

TlsClientContext::TlsClientContext() : m_context(boost::asio::ssl::context::tls_client) {}

std::shared_ptr<TlsClientContext> TlsClientContext::create(const TlsFiles& files,
                                                           std::string& error)
{
    std::shared_ptr<TlsClientContext> tls(new TlsClientContext());
    boost::asio::ssl::context& context = tls->m_context;
    SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_3_VERSION);
    boost::system::error_code ec;
    context.set_verify_mode(boost::asio::ssl::verify_peer, ec);
    const auto failed = [&](const char* what, const std::string& path) {
        error = std::string("cannot use ") + what + " " + path + ": " + tlsErrorText(ec);
        return nullptr;
    };
    context.load_verify_file(files.ca, ec);
    if (ec)
        return failed("the CA file", files.ca);
    context.use_certificate_chain_file(files.cert, ec);
    if (ec)
        return failed("the certificate file", files.cert);
    context.use_private_key_file(files.key, boost::asio::ssl::context::pem, ec);
    if (ec)
        return failed("the key file", files.key);
    if (SSL_CTX_check_private_key(context.native_handle()) != 1) {
        error = "the key in " + files.key + " does not belong to the certificate in " + files.cert;
        return nullptr;
    }
    return tls;
}

} // namespace roamnode
